#include "common/environment_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/error.h"
#include "common/text.h"
#include "common/unique_fd.h"

namespace ostrevane {
namespace {

constexpr std::string_view kFilePrefix = "file:";

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsAsciiDigit(c); }

std::string Reference(std::string_view inner) {
  return Concat({"${", ShowControlCharacters(CutForMessage(inner)), "}"});
}

// The content of a secret file without its final line end (LF or CR LF).
std::string ReadSecretFile(std::string_view path_text) {
  const std::string path(path_text);
  const std::string shown = Reference(Concat({kFilePrefix, path_text}));
  auto fail = [&](const std::string& why) {
    return Exception(Concat({shown, ": the file cannot be read: ", why}));
  };
  if (path.empty()) throw fail("no file name is given");
  // Not blocking on a FIFO: only a regular file is read.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) throw fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw fail("it is no regular file");
  std::string content;
  char buffer[4096];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(std::strerror(errno));
    }
    if (n == 0) break;
    content.append(buffer, size_t(n));
    if (content.size() > kSecretFileLimit)
      throw fail("it is larger than " + std::to_string(kSecretFileLimit / 1024) +
                 " KiB, which no secret is");
  }
  if (content.find('\0') != std::string::npos) throw fail("it holds a NUL byte");
  if (content.ends_with('\n')) content.pop_back();
  if (content.ends_with('\r')) content.pop_back();
  return content;
}

std::string ValueOf(std::string_view inner) {
  if (inner.starts_with(kFilePrefix)) return ReadSecretFile(inner.substr(kFilePrefix.size()));
  bool name = !inner.empty() && IsNameStart(inner[0]);
  for (char c : inner) name = name && IsNameChar(c);
  if (!name)
    throw Exception(Reference(inner) +
                    ": no environment variable name (letters, digits and \"_\", not first a "
                    "digit) and no file:PATH; write $${ for a literal ${");
  const std::string variable(inner);
  const char* value = std::getenv(variable.c_str());
  if (!value)
    throw Exception("the environment variable " + variable + " is not set (" + Reference(inner) +
                    ")");
  return value;
}

// Calls on_text(piece) for the literal pieces of `text` and on_reference(inner)
// for every reference, in order.
template <typename OnText, typename OnReference>
void Scan(std::string_view text, OnText on_text, OnReference on_reference) {
  size_t literal = 0;  // start of the literal text not yet handed out
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '$') continue;
    if (text.substr(i, 3) == "$${") {
      on_text(text.substr(literal, i - literal));
      on_text("${");
      i += 2;
      literal = i + 1;
      continue;
    }
    if (text.substr(i, 2) != "${") continue;
    const size_t close = text.find('}', i + 2);
    if (close == std::string_view::npos)
      throw Exception("\"${\" without its \"}\" in " +
                      Concat({"\"", ShowControlCharacters(CutForMessage(text.substr(i))), "\""}) +
                      "; write $${ for a literal ${");
    on_text(text.substr(literal, i - literal));
    on_reference(text.substr(i + 2, close - i - 2));
    i = close;
    literal = close + 1;
  }
  on_text(text.substr(literal));
}

}  // namespace

std::string ExpandEnvironment(std::string_view text) {
  if (!HasEnvironmentReference(text)) return std::string(text);
  std::string out;
  Scan(
      text, [&](std::string_view piece) { out += piece; },
      [&](std::string_view inner) { out += ValueOf(inner); });
  return out;
}

bool HasEnvironmentReference(std::string_view text) {
  return text.find("${") != std::string_view::npos;
}

void CheckEnvironmentReferences(std::string_view text) {
  if (!HasEnvironmentReference(text)) return;
  Scan(
      text, [](std::string_view) {}, [](std::string_view inner) { ValueOf(inner); });
}

}  // namespace ostrevane
