#include "common/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/codepage.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"

namespace ostrevane {
namespace {

// Owns one open file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

TextEncoding DetectByteOrderMark(std::string_view b, size_t& mark_length) {
  mark_length = 0;
  if (b.size() >= 2) {
    if (b[0] == '\xFF' && b[1] == '\xFE') { mark_length = 2; return TextEncoding::kUtf16Le; }
    if (b[0] == '\xFE' && b[1] == '\xFF') { mark_length = 2; return TextEncoding::kUtf16Be; }
    if (b.size() >= 3 && b[0] == '\xEF' && b[1] == '\xBB' && b[2] == '\xBF') {
      mark_length = 3;
      return TextEncoding::kUtf8;
    }
  }
  return TextEncoding::kAnsi;
}

std::string DecodeText(std::string_view content, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return SanitizeUtf8(content);
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be: {
      const bool le = encoding == TextEncoding::kUtf16Le;
      std::u16string u;
      u.reserve((content.size() + 1) / 2);
      for (size_t i = 0; i < content.size(); i += 2) {
        unsigned char a = static_cast<unsigned char>(content[i]);
        unsigned char b = i + 1 < content.size() ? static_cast<unsigned char>(content[i + 1]) : 0;
        if (i + 1 >= content.size()) u += char16_t(a);  // odd last byte: high byte 0
        else u += le ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
      }
      return Utf16ToUtf8(u);
    }
    case TextEncoding::kAnsi:
      if (IsValidUtf8(content)) return std::string(content);
      return AnsiToUtf8(content);
  }
  return std::string(content);
}

int TryReadWholeFile(const std::string& path, std::string& bytes, bool& opened) {
  opened = false;
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) return errno;
  opened = true;
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(bytes.size() + size_t(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.append(buffer, size_t(n));
  }
}

std::string ReadWholeFile(const std::string& path) {
  const std::string name = NormalizePath(path);
  std::string bytes;
  bool opened = false;
  if (const int error = TryReadWholeFile(name, bytes, opened)) {
    throw Error(kEFOpenError,
                std::string(opened && error != EISDIR ? "Cannot read" : "Cannot open") +
                    " file \"" + CutForMessage(AbsolutePath(name)) + "\". " + std::strerror(error));
  }
  return bytes;
}

std::string ReadTextFile(const std::string& path) {
  const std::string content = ReadWholeFile(path);
  size_t mark = 0;
  const TextEncoding encoding = DetectByteOrderMark(content, mark);
  return DecodeText(std::string_view(content).substr(mark), encoding);
}

}  // namespace ostrevane
