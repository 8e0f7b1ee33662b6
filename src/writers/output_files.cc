#include "writers/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "writers/compression_thread.h"

namespace ostrevane {
namespace {

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }

std::string SystemMessage(int err) { return std::error_code(err, std::generic_category()).message(); }

// A folder exists when stat reports a directory (links followed). When stat
// fails for another reason than a missing or malformed path, the path
// counts as existing, and creation is left to fail later if it does not.
bool FolderExists(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return !(errno == ENOENT || errno == ENOTDIR || errno == EINVAL || errno == ENAMETOOLONG ||
           errno == ELOOP);
}

// The absolute name for messages; a NUL (which no file name can hold) is
// shown as "?" so that the message is not cut there.
// The absolute name, cut for a message (a name made from a huge value).
std::string DisplayName(const std::string& name) {
  std::string abs = CutForMessage(AbsolutePath(name));
  for (char& c : abs)
    if (c == '\0') c = '?';
  return abs;
}

}  // namespace

Error CreateError(const std::string& name, int err) {
  return Error(kEFCreateError,
               Concat({"Cannot create file \"", DisplayName(name), "\". ", SystemMessage(err)}));
}

Error LinkError(const std::string& name, const std::string& link, const std::string& folder) {
  return Error(kEFCreateError,
               Concat({"Cannot create file \"", DisplayName(name), "\". \"", DisplayName(link),
                       "\" is a symbolic link; below \"", DisplayName(folder),
                       "\" links are not followed"}));
}

Error NamingFile(const Error& error, const std::string& name) {
  if (error.class_name() == kEFCreateError || error.class_name() == kEFOpenError ||
      error.class_name() == kEWriteError)
    return error;
  const std::string quoted = Concat({"\"", DisplayName(name), "\""});
  if (std::string_view(error.what()).find(quoted) != std::string_view::npos) return error;
  return error.WithPrefix("Cannot write file " + quoted + ". ");
}

std::string FolderPart(std::string_view name) {
  size_t pos = name.size();
  while (pos > 0 && !IsDelimiter(name[pos - 1])) --pos;
  if (pos == 0) return {};
  const size_t last = pos - 1;  // the last delimiter
  if (last > 0 && !IsDelimiter(name[last - 1])) return std::string(name.substr(0, last));
  return std::string(name.substr(0, pos));
}

bool CreateFolders(std::string_view path, std::vector<std::string>* made) {
  std::string p = NormalizePath(path);
  if (p.find('\0') != std::string::npos) return false;
  if (FolderExists(p)) return true;
  if (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  p += '/';
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '/') continue;
    const std::string prefix = p.substr(0, i + 1);
    if (FolderExists(prefix)) continue;
    if (::mkdir(prefix.c_str(), 0777) != 0) {
      struct stat st;
      if (errno == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      return false;
    }
    if (made) made->push_back(prefix);
  }
  return true;
}

OutputFile::OutputFile(const std::string& name, Mode mode, size_t buffer_size,
                       const std::string& open_path, ContentDigest* digest)
    : name_(name), capacity_(buffer_size == 0 ? 1 : buffer_size), digest_(digest) {
  const std::string path = NormalizePath(open_path.empty() ? name : open_path);
  int err = EINVAL;  // a name with a NUL character is no file name
  if (path.find('\0') == std::string::npos) {
    do {
      fd_ = ::open(path.c_str(), OpenFlags(mode), 0666);
    } while (fd_ < 0 && errno == EINTR);
    err = errno;
  }
  Start(mode, err);
}

OutputFile::OutputFile(const std::string& name, Mode mode, size_t buffer_size, UniqueFd file,
                       int open_error, ContentDigest* digest)
    : name_(name), capacity_(buffer_size == 0 ? 1 : buffer_size), digest_(digest) {
  fd_ = file ? file.Release() : -1;
  Start(mode, open_error);
}

int OutputFile::OpenFlags(Mode mode) {
  switch (mode) {
    case Mode::kCreate: return O_CLOEXEC | O_WRONLY | O_CREAT | O_TRUNC;
    case Mode::kAppend: return O_CLOEXEC | O_WRONLY | O_APPEND;
    case Mode::kUpdate: return O_CLOEXEC | O_RDWR;
  }
  return O_CLOEXEC | O_RDONLY;
}

void OutputFile::Start(Mode mode, int err) {
  if (fd_ < 0) {
    if (mode == Mode::kCreate) throw CreateError(name_, err);
    throw Error(kEFOpenError,
                "Cannot open file \"" + DisplayName(name_) + "\". " + SystemMessage(err));
  }
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
  if (mode == Mode::kAppend) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
      const int e = errno;
      ::close(fd_);
      fd_ = -1;
      throw Error(kEFOpenError,
                  "Cannot open file \"" + DisplayName(name_) + "\". " + SystemMessage(e));
    }
    position_ = int64_t(st.st_size);
  }
}

OutputFile::~OutputFile() {
  if (fd_ < 0) return;
  if (compression_) {
    // A member that was not ended is no whole member: the file is being
    // given up (its writer failed), and nothing more of it is written.
    compression_->Abandon();
    ::close(fd_);
    return;
  }
  try {
    if (!failed_) Flush();
  } catch (...) {
    // Keeps what could be written; the failure was or will be reported by
    // whoever unwinds through here.
  }
  ::close(fd_);
}

void OutputFile::ThrowWriteError(int err) const {
  throw Error(kEWriteError,
              "Stream write error on file \"" + DisplayName(name_) + "\". " + SystemMessage(err));
}

void OutputFile::WriteAll(const char* data, size_t size) {
  if (digest_) {
    digest_->Write(position_, std::string_view(data, size));
    position_ += int64_t(size);
  }
  while (size > 0) {
    const ssize_t w = ::write(fd_, data, size);
    if (w < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      ThrowWriteError(errno);
    }
    if (w == 0) {
      failed_ = true;
      ThrowWriteError(ENOSPC);
    }
    data += w;
    size -= size_t(w);
    if (meter_) meter_->AddBytes(w);
  }
}

void OutputFile::Compress(CompressionThread* compression) {
  Flush();
  compression_ = compression;
  compression_->Begin(fd_, position_, digest_, meter_);
}

void OutputFile::Put(const char* data, size_t size) {
  if (!compression_) {
    WriteAll(data, size);
    return;
  }
  if (const int error = compression_->Write(std::string_view(data, size)); error != 0) {
    failed_ = true;
    ThrowWriteError(error);
  }
}

void OutputFile::Write(std::string_view bytes) {
  if (compression_) {
    // The compression collects its blocks itself.
    Put(bytes.data(), bytes.size());
    return;
  }
  if (bytes.size() <= capacity_ - used_) {
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return;
  }
  Flush();
  if (bytes.size() >= capacity_) {
    WriteAll(bytes.data(), bytes.size());
    return;
  }
  std::memcpy(buffer_.get(), bytes.data(), bytes.size());
  used_ = bytes.size();
}

void OutputFile::Flush() {
  if (used_ == 0) return;
  const size_t n = used_;
  used_ = 0;
  WriteAll(buffer_.get(), n);
}

void OutputFile::Close() {
  if (fd_ < 0) return;
  Flush();
  if (compression_) {
    const int error = compression_->End();
    compression_ = nullptr;
    if (error != 0) {
      failed_ = true;
      const int fd = fd_;
      fd_ = -1;
      ::close(fd);
      ThrowWriteError(error);
    }
  }
  const int fd = fd_;
  fd_ = -1;
  // Linux releases the descriptor even when close reports EINTR.
  if (::close(fd) != 0 && errno != EINTR) ThrowWriteError(errno);
}

int64_t OutputFile::Size() {
  Flush();
  struct stat st;
  if (::fstat(fd_, &st) != 0) ThrowWriteError(errno);
  return int64_t(st.st_size);
}

std::string OutputFile::ReadTail(size_t n) {
  const int64_t size = Size();
  const int64_t from = size > int64_t(n) ? size - int64_t(n) : 0;
  std::string out(size_t(size - from), '\0');
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t r = ::pread(fd_, out.data() + got, out.size() - got, from + int64_t(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += size_t(r);
  }
  out.resize(got);
  return out;
}

void OutputFile::Seek(int64_t offset) {
  Flush();
  if (::lseek(fd_, offset, SEEK_SET) < 0) ThrowWriteError(errno);
  position_ = offset;
}

void OutputFile::CopyFrom(int fd, int64_t offset, int64_t size) {
  Flush();
  off_t in_off = offset;
  // With a digest the bytes must pass through here to be hashed, and with
  // a compression to be compressed.
  while (size > 0 && !digest_ && !compression_) {
    const ssize_t n = ::copy_file_range(fd, &in_off, fd_, nullptr, size_t(size), 0);
    if (n > 0) {
      size -= n;
      if (meter_) meter_->AddBytes(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      failed_ = true;
      ThrowWriteError(errno);
    }
    break;  // not supported here (or nothing left to read): copy by hand
  }
  while (size > 0) {
    const size_t chunk = size_t(size) < capacity_ ? size_t(size) : capacity_;
    const ssize_t r = ::pread(fd, buffer_.get(), chunk, in_off);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      failed_ = true;
      ThrowWriteError(r < 0 ? errno : EIO);
    }
    Put(buffer_.get(), size_t(r));
    in_off += r;
    size -= r;
  }
}

bool OutputFile::Seekable() {
  if (compression_) return false;
  struct stat st;
  return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

void OutputFile::MoveBytes(int64_t from, int64_t to, int64_t size) {
  Flush();
  if (from == to || size <= 0) return;
  // Chunks through the write buffer, in the order that never overwrites a
  // byte before it is read: forward when moving towards the start.
  const bool forward = to < from;
  int64_t done = 0;
  while (done < size) {
    const int64_t chunk = std::min<int64_t>(size - done, int64_t(capacity_));
    const int64_t at = forward ? done : size - done - chunk;
    int64_t got = 0;
    while (got < chunk) {
      const ssize_t r = ::pread(fd_, buffer_.get() + got, size_t(chunk - got), from + at + got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        failed_ = true;
        ThrowWriteError(r < 0 ? errno : EIO);
      }
      got += r;
    }
    int64_t put = 0;
    while (put < chunk) {
      const ssize_t w = ::pwrite(fd_, buffer_.get() + put, size_t(chunk - put), to + at + put);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        failed_ = true;
        ThrowWriteError(w < 0 ? errno : ENOSPC);
      }
      put += w;
    }
    done += chunk;
  }
}

void OutputFile::DigestWholeFile() {
  if (!digest_) return;
  Flush();
  digest_->Restart();
  struct stat st;
  if (::fstat(fd_, &st) != 0) ThrowWriteError(errno);
  for (int64_t at = 0; at < int64_t(st.st_size);) {
    const ssize_t r = ::pread(fd_, buffer_.get(), size_t(std::min<int64_t>(int64_t(capacity_),
                                                                          st.st_size - at)), at);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      failed_ = true;
      ThrowWriteError(r < 0 ? errno : EIO);
    }
    digest_->Write(at, std::string_view(buffer_.get(), size_t(r)));
    at += r;
  }
}

void OutputFile::TruncateHere() {
  Flush();
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0 || ::ftruncate(fd_, at) != 0) {
    failed_ = true;
    ThrowWriteError(errno);
  }
}

}  // namespace ostrevane
