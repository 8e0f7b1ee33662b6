#include "writers/staged_files.h"

#include <cerrno>

#include "common/path.h"

namespace ostrevane {

size_t StagedFiles::Find(const std::string& name) const {
  const auto it = index_.find(NormalizePath(name));
  return it == index_.end() ? kNotFound : it->second;
}

size_t StagedFiles::Begin(const std::string& name) {
  const std::string path = NormalizePath(name);
  if (path.find('\0') != std::string::npos) throw CreateError(name, EINVAL);
  CreateFolders(FolderPart(name));  // a failure shows as the create error
  Staged staged{name, AtomicFile(path, 0666), std::make_unique<ContentDigest>(&hasher_)};
  const int err = staged.atomic->error();
  if (err == EINVAL) {
    // A device or a pipe is written as it is: there is nothing to rename.
    staged.atomic.reset();
  } else if (err != 0) {
    throw CreateError(name, err);
  }
  files_.push_back(std::move(staged));
  index_.emplace(path, files_.size() - 1);
  return files_.size() - 1;
}

void StagedFiles::Open(size_t index, OutputFile::Mode mode, size_t buffer_size,
                       std::optional<OutputFile>& file) const {
  const Staged& staged = files_[index];
  file.emplace(staged.name, mode, buffer_size,
               staged.atomic ? staged.atomic->temp_path() : std::string(), staged.digest.get());
  file->set_meter(meter_);
}

void StagedFiles::CommitAll(std::vector<WrittenFile>* written) {
  for (Staged& staged : files_) {
    if (!staged.atomic) continue;
    // Not synced: a process that dies keeps whole files, and a sync per
    // file would hold every worker's writer for the disk.
    if (const int err = staged.atomic->Commit(false); err != 0) throw CreateError(staged.name, err);
  }
  if (!written) return;
  for (Staged& staged : files_)
    written->push_back({staged.name, staged.digest->size(), staged.digest->Finish()});
}

}  // namespace ostrevane
