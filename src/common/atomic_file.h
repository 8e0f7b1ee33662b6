// Files that change whole or not at all. The new content is written under a
// temporary name in the file's own folder and renamed over the final name
// only when it is complete, so that a reader, a failed write or a process
// killed halfway never finds a half-written file under that name. What a
// killed process leaves is a "<name>.tmp-XXXXXX" file beside it.
//
// The steps work on an open folder and a name in it, so that a caller that
// reached the folder without following symbolic links (writers/output_path.h)
// keeps every step there; AtomicFile does the same for a path.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace ostrevane {

// Creates, in the open folder `dir`, the empty temporary file for a new
// version of its entry `name` and sets `*temp` to its name. With `follow`,
// a symbolic link `name` counts as the entry it points to (the caller
// renames over what it resolved); without, it is refused (ELOOP). An
// existing file lends the new version its permission bits and, where the
// process may set it, its owner; a new file gets `new_file_mode` less the
// umask. Returns 0 or the errno of the failure, leaving nothing behind.
// Refused: an existing entry that is no regular file (EISDIR for a folder,
// EINVAL otherwise), and an existing file without any write permission bit
// or one the process may not write (EACCES), even for a privileged process.
int CreateTemporaryFile(int dir, const std::string& name, mode_t new_file_mode, bool follow,
                        std::string* temp);

// A fresh name for a temporary file beside `name`: "<name>.tmp-" and six
// random letters or digits, the name shortened when the whole would pass
// the file system's name limit. Nothing is created.
std::string TemporaryNameFor(std::string_view name);

// What MoveIntoPlace did, so that UndoMove can take it back.
enum class Moved {
  kNew,        // `temp` became `name`; there was no `name` before
  kExchanged,  // `temp` and `name` swapped: `temp` now holds the old version
  kSetAside,   // the old version went to `*aside` first, then `temp` became `name`
};

// Gives the temporary file `temp` of the open folder `dir` the name `name`,
// keeping the old version of `name` (if any) until the caller decides: under
// `temp` where the file system can swap two names at once, else under a new
// temporary name `*aside` (the final name is then missing for a moment).
// Returns 0 and sets `*moved`, or the errno of the failure (nothing moved).
// A folder (EISDIR) or another entry that is no file or link (EINVAL) under
// `name` is never moved. `may_swap` false takes the second way even where
// swapping works (for tests).
int MoveIntoPlace(int dir, const std::string& temp, const std::string& name, Moved* moved,
                  std::string* aside, bool may_swap = true);
// Takes a MoveIntoPlace back: the old version (or no file) under `name`
// again, the new one under `temp`. Returns 0 or the errno of the failure.
int UndoMove(int dir, const std::string& temp, const std::string& name, Moved moved,
             const std::string& aside);

// One new version of one file, from the creation of its temporary file to
// the rename. Not thread-safe; one owner at a time (movable). Holds its
// folder open while it lives.
class AtomicFile {
 public:
  // Creates the empty temporary file for a new version of `path`, as
  // CreateTemporaryFile does; a symbolic link `path` is followed: its
  // target is what gets replaced. A name ending in "/" is refused (EISDIR).
  AtomicFile(const std::string& path, mode_t new_file_mode);
  // Removes the temporary file unless Commit() moved it.
  ~AtomicFile();
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // 0 when the temporary file is ready, else the errno of the failure.
  int error() const { return error_; }
  // Where the new content goes (a path): open it, write, close, then Commit().
  const std::string& temp_path() const { return temp_path_; }

  // Renames the temporary file to the final name. With `sync`, its content
  // reaches the disk before and the rename after, so that even a system
  // crash leaves the old or the new version; without, only the process may
  // die safely. Returns 0 or the errno of the failure (the temporary file is
  // then removed by the destructor and the old file stays as it was).
  int Commit(bool sync);

 private:
  int dir_ = -1;        // the target's folder
  std::string name_;    // the target's name in it (links resolved)
  std::string temp_;    // the temporary file's name in it; empty once renamed
  std::string temp_path_;
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
