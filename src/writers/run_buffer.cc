#include "writers/run_buffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "common/error.h"
#include "common/path.h"
#include "writers/output_files.h"

namespace ostrevane {
namespace {

// An unnamed file in `dir`: O_TMPFILE where the file system has it, else a
// named one that is unlinked at once. -1 when neither works.
int UnnamedFile(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string path = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + ".ostrevane-XXXXXX";
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

RunBuffer::RunBuffer(size_t memory_limit) : limit_(memory_limit == 0 ? 1 : memory_limit) {
  // Room for the limit and one more record, reserved at once: pages that
  // are never written cost no memory, and the text never moves while it
  // fills up to the limit.
  text_.reserve(limit_ + (size_t{256} << 10));
}

RunBuffer::~RunBuffer() {
  if (fd_ >= 0) ::close(fd_);
}

void RunBuffer::OpenTemporary(std::string_view folder) {
  // Near the output first: the same file system lets the kernel copy the
  // records over, and /tmp may be memory. The writer makes that folder
  // for its file anyway.
  if (!folder.empty()) CreateFolders(folder);
  fd_ = UnnamedFile(folder.empty() ? std::string(".") : NormalizePath(folder));
  if (fd_ >= 0) return;
  const char* tmp = std::getenv("TMPDIR");
  fd_ = UnnamedFile(tmp && *tmp ? tmp : "/tmp");
  if (fd_ < 0)
    throw Error(kEFCreateError, "Cannot create a temporary file for the records. " +
                                    std::error_code(errno, std::generic_category()).message());
}

void RunBuffer::Spill(std::string_view folder) {
  if (fd_ < 0) OpenTemporary(folder);
  const char* p = text_.data();
  size_t left = text_.size();
  while (left > 0) {
    const ssize_t w = ::pwrite(fd_, p, left, spilled_);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0)
      throw Error(kEWriteError, "Stream write error on a temporary file. " +
                                    std::error_code(w < 0 ? errno : ENOSPC, std::generic_category())
                                        .message());
    p += w;
    left -= size_t(w);
    spilled_ += w;
  }
  text_.clear();
}

void RunBuffer::Reset() {
  text_.clear();
  if (fd_ >= 0 && spilled_ > 0) {
    // Frees the disk space of the last run; the next one writes from 0.
    if (::ftruncate(fd_, 0) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  spilled_ = 0;
}

void RunBuffer::CopyTo(OutputFile& out) {
  if (spilled_ > 0) out.CopyFrom(fd_, 0, spilled_);
  out.Write(text_);
}

}  // namespace ostrevane
