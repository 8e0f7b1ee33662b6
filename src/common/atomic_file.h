// Files that change whole or not at all. The new content is written under a
// temporary name in the file's own folder and renamed over the final name
// only when it is complete, so that a reader, a failed write or a process
// killed halfway never finds a half-written file under that name. What a
// killed process leaves is a "<name>.tmp-XXXXXX" file beside it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace ostrevane {

// One new version of one file, from the creation of its temporary file to
// the rename. Not thread-safe; one owner at a time (movable).
class AtomicFile {
 public:
  // Creates the empty temporary file for a new version of `path`. A
  // symbolic link is followed: its target is what gets replaced. An existing
  // file lends the new version its permission bits and, where the process
  // may set it, its owner; a new file gets `new_file_mode` less the umask.
  // Refused (see error()): an existing entry that is no regular file
  // (EISDIR for a folder or a name ending in "/", EINVAL otherwise), and an
  // existing file without any write permission bit or one the process may
  // not write (EACCES), even for a privileged process.
  AtomicFile(const std::string& path, mode_t new_file_mode);
  // Removes the temporary file unless Commit() moved it.
  ~AtomicFile();
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // 0 when the temporary file is ready, else the errno of the failure.
  int error() const { return error_; }
  // Where the new content goes: open it, write, close, then Commit().
  const std::string& temp_path() const { return temp_; }

  // Renames the temporary file to the final name. With `sync`, its content
  // reaches the disk before and the rename after, so that even a system
  // crash leaves the old or the new version; without, only the process may
  // die safely. Returns 0 or the errno of the failure (the temporary file is
  // then removed by the destructor and the old file stays as it was).
  int Commit(bool sync);

 private:
  std::string target_;  // the final name, links resolved
  std::string temp_;    // empty once renamed (or never made)
  int error_ = 0;
};

// Writes `bytes` as the whole content of `file`'s temporary file and
// commits it (see Commit). Returns 0 or the errno of the first failure, the
// file's own error() included; on failure the old file stays as it was.
int WriteAndCommit(AtomicFile& file, std::string_view bytes, bool sync);

// Replaces (or creates) `path` with exactly `bytes`, synced to disk, by way
// of an AtomicFile. Returns false (leaving the old file as it was and no
// temporary file behind) on failure.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, mode_t new_file_mode);

}  // namespace ostrevane
