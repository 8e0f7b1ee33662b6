#include "writers/file_batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "common/atomic_file.h"
#include "writers/output_files.h"

namespace ostrevane {
namespace {

// The folder of `file`, opened again; raises its create error.
UniqueFd FolderOf(const FileBatch::File& file) {
  int error = 0;
  std::string link;
  UniqueFd dir = OpenFolderOf(file.path, nullptr, &error, &link);
  if (!dir)
    throw link.empty() ? CreateError(file.name, error) : LinkError(file.name, link, file.path.base);
  return dir;
}

}  // namespace

size_t FileBatch::Add(File file) {
  if (!file.temp.empty()) keys_.insert(file.path.Key());
  files_.push_back(std::move(file));
  return files_.size() - 1;
}

void FileBatch::AddFolders(const std::vector<OutputPath>& made) {
  made_.insert(made_.end(), made.begin(), made.end());
}

void FileBatch::Take(FileBatch& other) {
  for (File& file : other.files_) Add(std::move(file));
  AddFolders(other.made_);
  other.files_.clear();
  other.made_.clear();
  other.keys_.clear();
}

void FileBatch::Commit(std::vector<WrittenFile>* written, bool keep_open) {
  struct Done {
    File* file;
    Moved moved;
    std::string aside;  // Moved::kSetAside: where the old version is
  };
  std::vector<Done> done;
  done.reserve(files_.size());
  auto undo = [&done] {
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      const UniqueFd dir = OpenFolderOf(it->file->path);
      if (dir &&
          UndoMove(dir.get(), it->file->temp, it->file->path.file, it->moved, it->aside) == 0)
        continue;
      // The new version keeps the name; whatever holds the old one is
      // left where it is rather than removed.
      it->file->temp.clear();
    }
  };
  try {
    for (File& file : files_) {
      if (file.temp.empty()) continue;  // written in place
      const UniqueFd dir = FolderOf(file);
      if (keep_open && written) {
        // Opened under its temporary name, so it is this file whatever
        // the rename meets.
        const int fd = ::openat(dir.get(), file.temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) throw CreateError(file.name, errno);
        file.written.kept = std::make_shared<const UniqueFd>(fd);
      }
      Done step{&file, Moved::kNew, {}};
      if (const int err =
              MoveIntoPlace(dir.get(), file.temp, file.path.file, &step.moved, &step.aside);
          err != 0)
        throw CreateError(file.name, err);
      done.push_back(std::move(step));
    }
  } catch (...) {
    undo();
    throw;
  }
  // Every file is in place: the old versions go.
  for (const Done& step : done) {
    const UniqueFd dir = OpenFolderOf(step.file->path);
    if (dir && step.moved == Moved::kExchanged) ::unlinkat(dir.get(), step.file->temp.c_str(), 0);
    if (dir && step.moved == Moved::kSetAside) ::unlinkat(dir.get(), step.aside.c_str(), 0);
  }
  if (written)
    for (const File& file : files_) written->push_back(file.written);
  files_.clear();
  made_.clear();
  keys_.clear();
}

void FileBatch::Discard() {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    if (it->temp.empty()) continue;
    const UniqueFd dir = OpenFolderOf(it->path);
    if (dir) ::unlinkat(dir.get(), it->temp.c_str(), 0);
  }
  RemoveFolders(made_);
  files_.clear();
  made_.clear();
  keys_.clear();
}

}  // namespace ostrevane
