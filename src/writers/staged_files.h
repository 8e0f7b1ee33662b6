// The output files of one writer call, each written under a temporary name
// beside its final name (common/atomic_file.h). They take their final names
// together, when the call has written everything: a call that fails, or a
// process that dies, leaves none of them under its final name. A name that
// comes back within the call goes on in the same temporary file.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/atomic_file.h"
#include "control/job.h"
#include "writers/content_digest.h"
#include "writers/hash_thread.h"
#include "writers/output_files.h"

namespace ostrevane {

class StagedFiles {
 public:
  static constexpr size_t kNotFound = size_t(-1);

  StagedFiles() = default;
  // Removes the temporary files that CommitAll() did not rename.
  ~StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Where the files opened from now on count the bytes written (null:
  // nowhere); see OutputFile::set_meter.
  void set_meter(ProgressMeter* meter) { meter_ = meter; }

  // The index of the file begun for `name` in this call (names compared as
  // the file system sees them), or kNotFound.
  size_t Find(const std::string& name) const;
  // Makes the folders of `name` and the empty temporary file that stands in
  // for it; returns its index. Raises CreateError(name, ...) when the
  // temporary file cannot be made or the name is no file that may be
  // replaced (a folder, a read-only file). An existing entry that is no
  // regular file (a device, a pipe) is written in place instead.
  size_t Begin(const std::string& name);
  // Opens the file of `index` into `file` (OutputFile's modes; kCreate
  // starts it empty). Messages name the final name. Every byte written
  // through it goes into the file's digest.
  void Open(size_t index, OutputFile::Mode mode, size_t buffer_size,
            std::optional<OutputFile>& file) const;
  // Gives every file its final name, in the order begun, and appends its
  // size and checksum to `written` when given. Raises CreateError naming
  // the first file that cannot be renamed.
  void CommitAll(std::vector<WrittenFile>* written = nullptr);

 private:
  struct Staged {
    std::string name;                  // the final name, as expanded
    std::optional<AtomicFile> atomic;  // empty: written in place
    std::unique_ptr<ContentDigest> digest;  // stays put while files_ grows
  };
  std::vector<Staged> files_;
  std::unordered_map<std::string, size_t> index_;
  ProgressMeter* meter_ = nullptr;  // by NormalizePath(name)
  // Hashes for every file's digest; declared last, so it stops before the
  // digests its tasks refer to go.
  HashThread hasher_;
};

}  // namespace ostrevane
