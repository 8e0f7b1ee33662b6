#include "common/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>

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
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || errno == EINTR;  // Linux releases the descriptor even then
  }

 private:
  int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
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

// "<target>.tmp-" and six random letters or digits; the target's own name
// is shortened when the whole would pass the file system's name limit.
std::string TempNameFor(const std::string& target) {
  static constexpr char kSuffix[] = ".tmp-";
  static constexpr size_t kRandom = 6;
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t slash = target.find_last_of('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const size_t room = NAME_MAX - (sizeof kSuffix - 1) - kRandom;
  std::string name = target.substr(0, base + std::min(target.size() - base, room)) + kSuffix;
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (size_t i = 0; i < kRandom; ++i) name += kLetters[pick(random)];
  return name;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, mode_t new_file_mode) : target_(WriteTarget(path)) {
  if (target_.empty() || target_.back() == '/') {
    error_ = EISDIR;  // as creating such a name would report
    return;
  }
  struct stat st;
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode)) {
      error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return;
    }
    // Permission bits speak even for a privileged process: a file marked
    // read-only by its owner is not to be replaced behind their back.
    if ((st.st_mode & 0222) == 0 || ::access(target_.c_str(), W_OK) != 0) {
      error_ = EACCES;
      return;
    }
  }

  Fd fd;
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    temp_ = TempNameFor(target_);
    fd.Reset(OpenRetrying(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          exists ? 0600 : new_file_mode));
    if (fd.get() < 0 && errno != EEXIST) break;
  }
  if (fd.get() < 0) {
    error_ = errno;
    temp_.clear();
    return;
  }
  if (exists) {
    if (::fchmod(fd.get(), st.st_mode & 07777) != 0) error_ = errno;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      // Best effort: only a privileged process may give the file away.
      if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
        // Keep our ownership; the content matters more than the owner.
      }
    }
  }
  if (!fd.Close() && error_ == 0) error_ = errno;
}

AtomicFile::~AtomicFile() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)), temp_(std::move(other.temp_)), error_(other.error_) {
  other.temp_.clear();
}

int AtomicFile::Commit(bool sync) {
  if (error_ != 0) return error_;
  if (sync) {
    Fd fd(OpenRetrying(temp_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) return errno;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return errno;
  temp_.clear();
  if (sync) {
    // Makes the rename itself durable; a failure here leaves a correct file.
    Fd dir(OpenRetrying(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
  }
  return 0;
}

int WriteAndCommit(AtomicFile& file, std::string_view bytes, bool sync) {
  if (file.error() != 0) return file.error();
  {
    Fd fd(OpenRetrying(file.temp_path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0 || !WriteAll(fd.get(), bytes) || !fd.Close()) return errno != 0 ? errno : EIO;
  }
  return file.Commit(sync);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, mode_t new_file_mode) {
  AtomicFile file(path, new_file_mode);
  return WriteAndCommit(file, bytes, true) == 0;
}

}  // namespace ostrevane
