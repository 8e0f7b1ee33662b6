#include "common/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>

#include "common/unique_fd.h"

namespace ostrevane {
namespace {

int OpenAtRetrying(int dir, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(dir, name, flags, mode);
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

// Reserves a fresh temporary name beside `name` in `dir` by creating it
// empty with `mode`; returns the open file, or -1 with errno set.
int CreateFreshTemporary(int dir, const std::string& name, mode_t mode, std::string* temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = TemporaryNameFor(name);
    const int fd =
        OpenAtRetrying(dir, temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

std::string TemporaryNameFor(std::string_view name) {
  static constexpr char kSuffix[] = ".tmp-";
  static constexpr size_t kRandom = 6;
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t slash = name.find_last_of('/');
  const size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t room = NAME_MAX - (sizeof kSuffix - 1) - kRandom;
  std::string temp(name.substr(0, base + std::min(name.size() - base, room)));
  temp += kSuffix;
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (size_t i = 0; i < kRandom; ++i) temp += kLetters[pick(random)];
  return temp;
}

int CreateTemporaryFile(int dir, const std::string& name, mode_t new_file_mode, bool follow,
                        std::string* temp) {
  temp->clear();
  struct stat st;
  const bool exists = ::fstatat(dir, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
  if (exists) {
    if (S_ISLNK(st.st_mode)) return ELOOP;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    // Permission bits speak even for a privileged process: a file marked
    // read-only by its owner is not to be replaced behind their back.
    if ((st.st_mode & 0222) == 0 ||
        ::faccessat(dir, name.c_str(), W_OK, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
      return EACCES;
  } else if (errno != ENOENT) {
    return errno;
  }

  UniqueFd fd(CreateFreshTemporary(dir, name, exists ? 0600 : new_file_mode, temp));
  if (fd.get() < 0) {
    const int err = errno;
    temp->clear();
    return err;
  }
  int err = 0;
  if (exists) {
    if (::fchmod(fd.get(), st.st_mode & 07777) != 0) err = errno;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      // Best effort: only a privileged process may give the file away.
      if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
        // Keep our ownership; the content matters more than the owner.
      }
    }
  }
  if (!fd.Close() && err == 0) err = errno;
  if (err != 0) {
    ::unlinkat(dir, temp->c_str(), 0);
    temp->clear();
  }
  return err;
}

int MoveIntoPlace(int dir, const std::string& temp, const std::string& name, Moved* moved,
                  std::string* aside, bool may_swap) {
  aside->clear();
  // The name may have changed since the temporary file was made: a folder
  // is never swapped away, nor anything else that is no file or link.
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return EINVAL;
  }
  const int swapped =
      may_swap ? ::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_EXCHANGE) : -1;
  if (swapped == 0) {
    *moved = Moved::kExchanged;
    return 0;
  }
  if (!may_swap) errno = EINVAL;
  if (errno == ENOENT) {
    // No old version (the temporary file is there: it was made by us).
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) return errno;
    *moved = Moved::kNew;
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // No swapping here: the old version goes aside under a name reserved
  // first, then the new one takes its place.
  {
    UniqueFd reserved(CreateFreshTemporary(dir, name, 0600, aside));
    if (reserved.get() < 0) {
      aside->clear();
      return errno;
    }
  }
  if (::renameat(dir, name.c_str(), dir, aside->c_str()) != 0) {
    const int err = errno;
    ::unlinkat(dir, aside->c_str(), 0);
    aside->clear();
    if (err != ENOENT) return err;
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) return errno;
    *moved = Moved::kNew;
    return 0;
  }
  if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    const int err = errno;
    ::renameat(dir, aside->c_str(), dir, name.c_str());
    aside->clear();
    return err;
  }
  *moved = Moved::kSetAside;
  return 0;
}

int UndoMove(int dir, const std::string& temp, const std::string& name, Moved moved,
             const std::string& aside) {
  int rc = 0;
  switch (moved) {
    case Moved::kExchanged:
      rc = ::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_EXCHANGE);
      break;
    case Moved::kNew:
      rc = ::renameat(dir, name.c_str(), dir, temp.c_str());
      break;
    case Moved::kSetAside:
      rc = ::renameat(dir, name.c_str(), dir, temp.c_str());
      if (rc == 0) rc = ::renameat(dir, aside.c_str(), dir, name.c_str());
      break;
  }
  return rc == 0 ? 0 : errno;
}

AtomicFile::AtomicFile(const std::string& path, mode_t new_file_mode) {
  const std::string target = WriteTarget(path);
  if (target.empty() || target.back() == '/') {
    error_ = EISDIR;  // as creating such a name would report
    return;
  }
  const size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target.substr(0, slash);
  name_ = slash == std::string::npos ? target : target.substr(slash + 1);
  dir_ = OpenAtRetrying(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) {
    error_ = errno;
    return;
  }
  error_ = CreateTemporaryFile(dir_, name_, new_file_mode, true, &temp_);
  if (error_ == 0) temp_path_ = target.substr(0, slash + 1) + temp_;  // npos + 1 == 0
}

AtomicFile::~AtomicFile() {
  if (!temp_.empty()) ::unlinkat(dir_, temp_.c_str(), 0);
  if (dir_ >= 0) ::close(dir_);
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : dir_(other.dir_),
      name_(std::move(other.name_)),
      temp_(std::move(other.temp_)),
      temp_path_(std::move(other.temp_path_)),
      error_(other.error_) {
  other.dir_ = -1;
  other.temp_.clear();
}

int AtomicFile::Commit(bool sync) {
  if (error_ != 0) return error_;
  if (temp_.empty()) return EINVAL;  // committed before
  if (sync) {
    UniqueFd fd(OpenAtRetrying(dir_, temp_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) return errno;
  }
  if (::renameat(dir_, temp_.c_str(), dir_, name_.c_str()) != 0) return errno;
  temp_.clear();
  // Makes the rename itself durable; a failure here leaves a correct file.
  if (sync) ::fsync(dir_);
  return 0;
}

int WriteAndCommit(AtomicFile& file, std::string_view bytes, bool sync) {
  if (file.error() != 0) return file.error();
  {
    UniqueFd fd(OpenAtRetrying(AT_FDCWD, file.temp_path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0 || !WriteAll(fd.get(), bytes) || !fd.Close()) return errno != 0 ? errno : EIO;
  }
  return file.Commit(sync);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, mode_t new_file_mode) {
  AtomicFile file(path, new_file_mode);
  return WriteAndCommit(file, bytes, true) == 0;
}

}  // namespace ostrevane
