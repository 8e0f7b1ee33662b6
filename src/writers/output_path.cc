#include "writers/output_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/path.h"
#include "writers/output_files.h"

namespace ostrevane {
namespace {

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }

int OpenFolderAt(int dir, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(dir, name, flags | O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A folder made on the way to the template's folder, as RemoveFolders
// takes it: its parent as the base, its own name as the file.
OutputPath MadeBaseFolder(const std::string& made) {
  const std::string clean = CleanPath(made);
  const size_t slash = clean.find_last_of('/', clean.size() - 2);
  OutputPath folder;
  folder.base = slash == std::string::npos ? std::string() : clean.substr(0, slash + 1);
  folder.file = clean.substr(folder.base.size());
  if (folder.file.ends_with('/')) folder.file.pop_back();
  return folder;
}

}  // namespace

bool OutputPath::Split(std::string_view name, size_t fixed_size, OutputPath* path) {
  *path = OutputPath();
  if (fixed_size > name.size()) fixed_size = name.size();
  size_t folder_end = fixed_size;
  while (folder_end > 0 && !IsDelimiter(name[folder_end - 1])) --folder_end;
  path->base = CleanPath(name.substr(0, folder_end));
  if (path->base.empty() && !name.empty() && IsDelimiter(name[0])) path->base.push_back('/');
  path->file_fixed = fixed_size == name.size();
  const std::string_view rest = name.substr(folder_end);
  std::string_view last;
  for (size_t begin = 0;;) {
    size_t end = begin;
    while (end < rest.size() && !IsDelimiter(rest[end])) ++end;
    const std::string_view level = rest.substr(begin, end - begin);
    if (level == "..") {
      if (path->levels.empty()) return false;
      path->levels.pop_back();
    } else if (!level.empty() && level != ".") {
      path->levels.emplace_back(level);
    }
    if (end == rest.size()) {
      last = level;
      break;
    }
    begin = end + 1;
  }
  if (!last.empty() && last != "." && last != "..") {
    path->file = std::move(path->levels.back());
    path->levels.pop_back();
  }
  return true;
}

std::string OutputPath::FolderPath(size_t count) const {
  std::string folder = base;
  for (size_t i = 0; i < count && i < levels.size(); ++i) {
    folder += levels[i];
    folder += '/';
  }
  return folder;
}

std::string OutputPath::Key() const { return FolderPath(levels.size()) + file; }

UniqueFd OpenFolderOf(const OutputPath& path, std::vector<OutputPath>* made, int* error,
                      std::string* link) {
  const char* base = path.base.empty() ? "." : path.base.c_str();
  UniqueFd dir(OpenFolderAt(AT_FDCWD, base, 0));
  if (!dir && errno == ENOENT && made) {
    std::vector<std::string> created;
    CreateFolders(path.base, &created);
    for (const std::string& folder : created) made->push_back(MadeBaseFolder(folder));
    dir.Reset(OpenFolderAt(AT_FDCWD, base, 0));
  }
  if (!dir) {
    *error = errno;
    return {};
  }
  for (size_t i = 0; i < path.levels.size(); ++i) {
    const char* level = path.levels[i].c_str();
    UniqueFd next(OpenFolderAt(dir.get(), level, O_NOFOLLOW));
    if (!next && errno == ENOENT && made) {
      if (::mkdirat(dir.get(), level, 0777) == 0) {
        made->push_back({path.base,
                         {path.levels.begin(), path.levels.begin() + ptrdiff_t(i)},
                         path.levels[i],
                         false});
      } else if (errno != EEXIST) {
        *error = errno;
        return {};
      }
      next.Reset(OpenFolderAt(dir.get(), level, O_NOFOLLOW));
    }
    if (!next) {
      *error = errno;
      struct stat st;
      if ((*error == ENOTDIR || *error == ELOOP) &&
          ::fstatat(dir.get(), level, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        *link = path.FolderPath(i + 1);
        link->pop_back();
      }
      return {};
    }
    dir = std::move(next);
  }
  return dir;
}

UniqueFd OpenFolderOf(const OutputPath& path) {
  int error = 0;
  std::string link;
  return OpenFolderOf(path, nullptr, &error, &link);
}

void RemoveFolders(const std::vector<OutputPath>& made) {
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
    const UniqueFd parent = OpenFolderOf(*folder);
    if (parent) ::unlinkat(parent.get(), folder->file.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace ostrevane
