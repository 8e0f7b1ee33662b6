// Where an output file goes, in three parts: the folder that the template's
// own text names (the operator's choice, reached as the operator wrote it:
// symbolic links followed), the folder levels below it (added by values:
// created and entered without following any link, so that a link planted
// in the output folder cannot lead a value elsewhere), and the file's own
// name. Every step below the template's folder is taken from an open
// folder, never by a path that could be swapped underneath.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"

namespace ostrevane {

struct OutputPath {
  std::string base;                 // CleanPath of the template's folder: "" or ends with "/"
  std::vector<std::string> levels;  // below base; none is "", "." or ".."
  std::string file;                 // "" when the name ends in a folder
  // The file's name is the template's own text with nothing from a value
  // before it: a symbolic link there is followed, as the operator wrote it.
  bool file_fixed = false;

  // Splits `name`, whose first `fixed_size` bytes are the template's own
  // text: `base` is that text up to its last "/" or "\"; "." and empty
  // levels after it are dropped and each ".." takes back the level before
  // it. False when a ".." would climb above `base`.
  static bool Split(std::string_view name, size_t fixed_size, OutputPath* path);

  // One spelling for every spelling of the same file: base, levels and
  // file joined by "/".
  std::string Key() const;
  // The folder levels[0..count) below base, as a path ("out/a/b/").
  std::string FolderPath(size_t count) const;
};

// The folder of `path` that its levels lead to, opened. Sets `*error` to
// the errno of a failure (and returns an empty UniqueFd); when the failure
// is a symbolic link among the levels, `*link` is set to its path. With `made`, missing folders
// are created (the base as its path says, following links; the levels
// without), and every folder made is appended to `*made`, top down, as an
// OutputPath whose `file` is the folder's name.
UniqueFd OpenFolderOf(const OutputPath& path, std::vector<OutputPath>* made, int* error,
                      std::string* link);

// The same without creating anything or telling why: an empty UniqueFd
// when the folder cannot be opened (for cleaning up).
UniqueFd OpenFolderOf(const OutputPath& path);

// Removes the folders of `made` (as OpenFolderOf lists them) that are
// empty, bottom up; leaves the others.
void RemoveFolders(const std::vector<OutputPath>& made);

}  // namespace ostrevane
