// Errors of the whole program: an exception that carries a message and the
// name of its class. The top-level handler prints "ClassName: message".
#pragma once

#include <stdexcept>
#include <string>

namespace ostrevane {

class Error : public std::runtime_error {
 public:
  Error(std::string class_name, const std::string& message)
      : std::runtime_error(message), class_name_(std::move(class_name)) {}

  const std::string& class_name() const { return class_name_; }
  std::string message() const { return what(); }

  // The same error with `prefix` put before its message; the class stays.
  Error WithPrefix(const std::string& prefix) const {
    return Error(class_name_, prefix + what());
  }

 private:
  std::string class_name_;
};

// The program's own errors carry the class name "Exception".
inline Error Exception(const std::string& message) {
  return Error("Exception", message);
}

// Class names of the other error families.
inline constexpr const char kEFOpenError[] = "EFOpenError";
inline constexpr const char kEFCreateError[] = "EFCreateError";
inline constexpr const char kEConvertError[] = "EConvertError";
inline constexpr const char kEDatabaseError[] = "EDatabaseError";
inline constexpr const char kEAESError[] = "EAESError";
inline constexpr const char kEWriteError[] = "EWriteError";

}  // namespace ostrevane
