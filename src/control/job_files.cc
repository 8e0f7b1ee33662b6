#include "control/job_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

[[noreturn]] void ThrowFileError(const char* what, const std::string& name, int error) {
  throw Error(kEFOpenError, std::string(what) + " file \"" + AbsolutePath(name) + "\". " +
                                std::strerror(error));
}

}  // namespace

std::string ReadFileContent(const std::string& path) {
  const std::string name = NormalizePath(path);
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowFileError("Cannot open", name, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) ThrowFileError("Cannot open", name, errno);
  if (S_ISDIR(st.st_mode)) ThrowFileError("Cannot open", name, EISDIR);

  std::string content;
  if (S_ISREG(st.st_mode) && st.st_size > 0) content.reserve(size_t(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("Cannot read", name, errno);
    }
    content.append(buffer, size_t(n));
  }
  return content;
}

std::string ReadTextFile(const std::string& path) {
  const std::string content = ReadFileContent(path);
  size_t mark = 0;
  const TextEncoding encoding = DetectByteOrderMark(content, mark);
  return DecodeText(std::string_view(content).substr(mark), encoding);
}

FileBytes ReadFileBytes(const std::string& path) {
  // The message keeps the name as the user wrote it; an empty name names no
  // file and fails here too.
  if (!FileExists(path)) throw Exception("File " + path + "does not exist");
  FileBytes file;
  file.bytes = ReadFileContent(path);
  size_t mark = 0;
  file.encoding = DetectByteOrderMark(file.bytes, mark);
  file.bytes.erase(0, mark);
  return file;
}

std::string BytesToText(const FileBytes& file) { return DecodeText(file.bytes, file.encoding); }

std::string UdlToInitString(std::string_view text) {
  std::string s = ReplaceAll(text, "[oledb]", "");
  s = ReplaceAll(s, "; Everything after this line is an OLE DB initstring", "");
  return Trim(s);
}

}  // namespace ostrevane
