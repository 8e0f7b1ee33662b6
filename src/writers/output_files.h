// The output files of the writers: the folder part of a file name, the
// creation of missing folders, and files written through a large buffer.
// "/" and "\" both delimit folders; a "\" is written as "/" when the file
// system is asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/unique_fd.h"
#include "common/progress_meter.h"
#include "writers/content_digest.h"

namespace ostrevane {

class CompressionThread;

// The text up to and including the last "/" or "\"; that final delimiter is
// left out unless it is the first character or directly follows another
// delimiter ("out/x.csv" -> "out", "/x.csv" -> "/", "x.csv" -> "").
std::string FolderPart(std::string_view name);

// Creates every missing level of `path`, top down, following symbolic
// links, and appends each folder made to `made` when given. True when the
// folder exists afterwards. A path the file system refuses to report for
// another reason than its absence (no permission to look, say) counts as
// existing.
bool CreateFolders(std::string_view path, std::vector<std::string>* made = nullptr);

// The create error of the file `name`: Error(kEFCreateError,
// "Cannot create file \"<absolute name>\". <system message of err>").
Error CreateError(const std::string& name, int err);

// The error of the file `name` whose way leads through the symbolic link
// `link` below the template's folder `folder`: Error(kEFCreateError,
// "Cannot create file \"<absolute name>\". \"<absolute link>\" is a
// symbolic link; below \"<absolute folder>\" links are not followed").
Error LinkError(const std::string& name, const std::string& link, const std::string& folder);

// `error`, raised while the file `name` was being written, made to name it:
// "Cannot write file \"<absolute name>\". " before its message unless the
// message names that file already, or is about a file of its own (a
// create, open or write error, which names the file that failed). The
// class stays.
Error NamingFile(const Error& error, const std::string& name);

// One output file, written through a buffer, closed by its destructor
// (which keeps what was written and never throws). Failures raise:
// creation CreateError(name, errno), reopening Error(kEFOpenError,
// "Cannot open file ..."), writing and closing
// Error(kEWriteError, "Stream write error on file \"<absolute name>\". <system message>").
class OutputFile {
 public:
  enum class Mode {
    kCreate,  // create, replacing a file of that name
    kAppend,  // open an existing file and write at its end
    kUpdate,  // open an existing file for reading and writing at a chosen place
  };
  static constexpr size_t kDefaultBuffer = size_t{1} << 20;

  // Opens `name`, or `open_path` when given: a temporary file that stands
  // in for `name`, which the messages still name.
  // With `digest`, every byte that reaches the file is also given to it,
  // at its offset; the digest must outlive the file.
  explicit OutputFile(const std::string& name, Mode mode = Mode::kCreate,
                      size_t buffer_size = kDefaultBuffer, const std::string& open_path = {},
                      ContentDigest* digest = nullptr);
  // The flags of open(2) for `mode`.
  static int OpenFlags(Mode mode);
  // The same for a file that the caller opened as `mode` says (`file`, or
  // the errno of its failure to open in `open_error`).
  OutputFile(const std::string& name, Mode mode, size_t buffer_size, UniqueFd file,
             int open_error, ContentDigest* digest);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(std::string_view bytes);
  void Write(const char* data, size_t size) { Write(std::string_view(data, size)); }
  // Writes the bytes still buffered.
  void Flush();
  // Flushes and closes; reports a failure of either.
  void Close();

  // Size of the file as written so far (buffer included).
  int64_t Size();
  // The last `n` bytes of the file as written so far (fewer when shorter).
  std::string ReadTail(size_t n);
  // Continues writing at `offset` (after the buffered bytes are written).
  void Seek(int64_t offset);
  // Appends `size` bytes of the open file `fd` from `offset`, in the kernel
  // where it can.
  void CopyFrom(int fd, int64_t offset, int64_t size);
  // True for a regular file written as it is, where Seek, MoveBytes and
  // TruncateHere work (not for a pipe or a device written in place, nor
  // for a compressed file).
  bool Seekable();
  // Moves `size` bytes of this file from `from` to `to` (the ranges may
  // overlap), after the buffered bytes are written; the write position is
  // left undefined (Seek next).
  void MoveBytes(int64_t from, int64_t to, int64_t size);
  // Cuts the file at the current write position (buffered bytes written).
  void TruncateHere();
  // Gives the digest (if any) the whole file again, read back from the file:
  // for a writer that wrote a part out of order, which the digest could not
  // follow. The file must be open for reading (Mode::kUpdate) and the write
  // position at its end.
  void DigestWholeFile();

  const std::string& name() const { return name_; }
  // Counts every byte written to the file on `meter` too (null: nowhere).
  void set_meter(ProgressMeter* meter) { meter_ = meter; }
  // From now on the bytes written go through `compression` (which must
  // outlive the file, and compress nothing else until the file is closed)
  // as one compressed member, appended where the file ends; the digest and
  // the meter get the compressed bytes. Only Write, CopyFrom and Close are
  // used then; Close ends the member and reports a failure to compress or
  // to write it. Call it before the first write, after set_meter.
  void Compress(CompressionThread* compression);

 private:
  // Takes the open file `fd_` on (or raises the open error `err`).
  void Start(Mode mode, int err);
  [[noreturn]] void ThrowWriteError(int err) const;
  void WriteAll(const char* data, size_t size);
  // WriteAll, or the compression's Write.
  void Put(const char* data, size_t size);

  std::string name_;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_;
  size_t used_ = 0;
  bool failed_ = false;
  ContentDigest* digest_ = nullptr;
  int64_t position_ = 0;  // where the next WriteAll lands (kept only with a digest)
  ProgressMeter* meter_ = nullptr;
  CompressionThread* compression_ = nullptr;  // while a member is open
};

}  // namespace ostrevane
