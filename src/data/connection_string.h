// OLE DB style initialisation strings: "Key=Value;Key=Value". Keys are
// compared without regard to case and trimmed; a value may be enclosed in
// double or single quotes (a doubled quote inside stands for one).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrevane {

class ConnectionString {
 public:
  ConnectionString() = default;
  explicit ConnectionString(std::string_view text);

  // The value of the first key of that name; empty when absent.
  std::string Get(std::string_view key) const;
  bool Has(std::string_view key) const;
  // The provider name without a version suffix ("SQLite.1" -> "SQLite").
  std::string Provider() const;
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The text with the value of every password key (Password, Pwd,
// sslpassword, any key ending in "password"; any case) replaced by "***",
// for messages and listings. Found by parsing: quoted and braced values,
// and connection strings nested in values (Extended Properties="...;PWD=x"),
// are masked whole; text that merely equals a password is left alone.
std::string MaskPasswords(std::string_view connection_string);

}  // namespace ostrevane
