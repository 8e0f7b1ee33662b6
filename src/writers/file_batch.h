// Finished output files waiting for their final names, from one writer call
// or several (a job's CSV and XML files), and the folders made for them.
// Commit() gives every file its final name or, when one cannot have it,
// none: the files renamed before it are taken back and the older files of
// those names are back as they were. What is not committed goes with the
// batch: its temporary files, then the folders made for them that are
// empty, bottom up. A batch is used by one thread at a time.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "control/job.h"
#include "writers/output_path.h"

namespace ostrevane {

class FileBatch {
 public:
  struct File {
    std::string name;     // as expanded: messages and the job's listing name it so
    OutputPath path;      // where it goes
    std::string temp;     // its temporary file in that folder; "" when written in place
    WrittenFile written;  // its size and checksum, known once it is finished
  };

  FileBatch() = default;
  // Removes what was not committed (see above).
  ~FileBatch() { Discard(); }
  FileBatch(const FileBatch&) = delete;
  FileBatch& operator=(const FileBatch&) = delete;

  // Adds a file begun; returns its index. A file with a temporary file
  // must have a Key() that no file of the batch has.
  size_t Add(File file);
  File& file(size_t index) { return files_[index]; }
  const File& file(size_t index) const { return files_[index]; }
  size_t size() const { return files_.size(); }
  // Folders made for the files, top down.
  void AddFolders(const std::vector<OutputPath>& made);
  // Whether a file with a temporary file goes to the place `key` names.
  bool Holds(const std::string& key) const { return keys_.contains(key); }
  // Moves every file and folder of `other` to the end of this batch.
  void Take(FileBatch& other);

  // Gives every file its final name, in the order added, and then appends
  // its `written` to `*written`. Raises CreateError (or the link error)
  // naming the first file that cannot have its name; then no file of the
  // batch keeps its final name. Old versions of the files are removed only
  // when all are in place. The batch is empty afterwards. With
  // `keep_open`, every file renamed is opened for reading first, and its
  // WrittenFile::kept holds it: the bytes written, whatever replaces the
  // name later (a file that cannot be opened fails like a rename).
  void Commit(std::vector<WrittenFile>* written, bool keep_open = false);

  // Removes every temporary file and the empty folders made for them now.
  void Discard();

 private:
  std::vector<File> files_;
  std::vector<OutputPath> made_;
  std::unordered_set<std::string> keys_;
};

}  // namespace ostrevane
