// SHA-256 of a byte stream fed piece by piece: the checksum of an output
// file, computed while the file is written. The only user of the hash
// library's headers is sha256.cc. Not thread-safe; one owner at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ostrevane {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::string_view bytes);
  // The digest of everything fed so far, as 64 lower-case hexadecimal
  // digits. Ends the stream: feed nothing after it.
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// The digest of one whole text, for tests and small buffers.
std::string Sha256Hex(std::string_view bytes);

}  // namespace ostrevane
