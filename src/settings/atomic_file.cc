#include "settings/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace ostrevane {
namespace {

// Owns one file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

// Removes the temporary file unless the rename took it.
class TempName {
 public:
  explicit TempName(std::string name) : name_(std::move(name)) {}
  ~TempName() {
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TempName(const TempName&) = delete;
  TempName& operator=(const TempName&) = delete;
  void Release() { name_.clear(); }

 private:
  std::string name_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a write to `path` really changes: the target of a symbolic
// link (when it resolves), else `path` itself.
std::string WriteTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    struct FreeDeleter {
      void operator()(char* p) const { ::free(p); }
    };
    std::unique_ptr<char, FreeDeleter> real(::realpath(path.c_str(), nullptr));
    if (real) return real.get();
  }
  return path;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           mode_t new_file_mode) {
  const std::string target = WriteTarget(path);
  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  mode_t mode = new_file_mode;
  if (exists) {
    if (!S_ISREG(st.st_mode)) return false;
    // Permission bits speak even for a privileged process: a file marked
    // read-only by its owner is not to be replaced behind their back.
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return false;
    mode = st.st_mode & 07777;
  }

  std::string temp = target + ".tmp-XXXXXX";
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  TempName guard(temp);
  if (::fchmod(fd.get(), mode) != 0) return false;
  if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    // Best effort: only a privileged process may give the file away.
    if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
      // Keep our ownership; the content matters more than the owner.
    }
  }
  if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.Close()) return false;
  if (::rename(temp.c_str(), target.c_str()) != 0) return false;
  guard.Release();

  // Make the rename itself durable; a failure here leaves a correct file.
  Fd dir(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

}  // namespace ostrevane
