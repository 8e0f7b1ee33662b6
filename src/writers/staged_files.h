// The output files of one writer call, each written under a temporary name
// beside its final name (common/atomic_file.h). They take their final names
// together, when the call has written everything: a call that fails, or a
// process that dies, leaves none of them under its final name. A name that
// comes back within the call, in whatever spelling ("x", "./x", "a//x"
// after "a/x"), goes on in the same temporary file.
//
// Cleanup contract: until CommitAll() has renamed them or handed them to a
// batch, the temporary files and the folders made for them belong to this
// object, and its destructor removes them (the files first, then the
// folders that are empty). A writer that stops early only has to let it go.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "control/job.h"
#include "writers/compression_thread.h"
#include "writers/content_digest.h"
#include "writers/file_batch.h"
#include "writers/hash_thread.h"
#include "writers/output_files.h"

namespace ostrevane {

class StagedFiles {
 public:
  static constexpr size_t kNotFound = size_t(-1);

  // `fixed_prefix` is the start that every name of the call shares and
  // that is the template's own text (NameTemplate::fixed_prefix()): the
  // folder it names is reached following symbolic links, the levels below
  // it are created and entered without (writers/output_path.h). With
  // `batch`, CommitAll() hands the files to it instead of renaming them,
  // and names that the batch holds already are refused.
  explicit StagedFiles(std::string fixed_prefix = {}, FileBatch* batch = nullptr)
      : fixed_prefix_(std::move(fixed_prefix)), batch_(batch) {}
  // Removes the temporary files and folders that CommitAll() did not take.
  ~StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Where the files opened from now on count the bytes written (null:
  // nowhere); see OutputFile::set_meter.
  void set_meter(ProgressMeter* meter) { meter_ = meter; }
  // Compresses the files (kNone or kNotGiven: not at all): every Open
  // adds a member, and the sizes and checksums are those of the compressed
  // files. Call it before the first Begin. Raises Error when the
  // compression cannot start.
  void set_compression(const Compression& compression);

  // The index of the file begun for `name` in this call (every spelling of
  // one path is one file), or kNotFound.
  size_t Find(const std::string& name) const;
  // Makes the folders of `name` and the empty temporary file that stands in
  // for it; returns its index. Raises CreateError(name, ...) when the
  // temporary file cannot be made or the name is no file that may be
  // replaced (a folder, a read-only file), the link error when a symbolic
  // link stands below the template's folder, and the create error "Another
  // file of the job has that name" when the batch holds that file. An
  // existing entry that is no regular file (a device, a pipe) is written in
  // place instead.
  size_t Begin(const std::string& name);
  // Opens the file of `index` into `file` (OutputFile's modes; kCreate
  // starts it empty). Messages name the final name. Every byte written
  // through it goes into the file's digest.
  void Open(size_t index, OutputFile::Mode mode, size_t buffer_size,
            std::optional<OutputFile>& file) const;
  // Gives every file its final name, in the order begun, and appends its
  // size and checksum to `written` when given; raises the error naming the
  // first file that cannot be renamed, and then none keeps its final name
  // (FileBatch::Commit). With a batch, hands the files to it instead:
  // their names and checksums come with the batch's Commit().
  void CommitAll(std::vector<WrittenFile>* written = nullptr);

 private:
  // Where `name` goes; raises its create error when it leads nowhere.
  OutputPath PathOf(const std::string& name) const;

  std::string fixed_prefix_;
  FileBatch* batch_;
  FileBatch files_;
  std::unordered_map<std::string, size_t> index_;        // by OutputPath::Key
  std::vector<std::unique_ptr<ContentDigest>> digests_;  // per file; they stay put
  // Folders of the files, open, by OutputPath::FolderPath: a writer that
  // goes back and forth between files does not walk to them every time.
  // At most kOpenFolders.
  static constexpr size_t kOpenFolders = 64;
  mutable std::unordered_map<std::string, UniqueFd> folders_;
  ProgressMeter* meter_ = nullptr;
  bool Compressing() const { return compressor_ != nullptr; }

  // Hashes for every file's digest; declared after them, so it stops before
  // the digests its tasks refer to go.
  HashThread hasher_;
  // Compresses and writes the compressed files, hashing them as it goes;
  // declared last, so it stops before the digests go.
  std::unique_ptr<CompressionThread> compressor_;
};

}  // namespace ostrevane
