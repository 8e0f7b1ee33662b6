#include "common/path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace ostrevane {

std::string BaseName(std::string_view path) {
  const size_t at = path.find_last_of("/\\");
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string NormalizePath(std::string_view path) {
  std::string p(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string CleanPath(std::string_view path) {
  const std::string p = NormalizePath(path);
  std::string clean;
  clean.reserve(p.size());
  if (!p.empty() && p[0] == '/') clean += '/';
  size_t begin = 0;
  while (begin < p.size()) {
    size_t end = p.find('/', begin);
    if (end == std::string::npos) end = p.size();
    const std::string_view level(p.data() + begin, end - begin);
    if (!level.empty() && level != ".") {
      clean.append(level);
      clean += '/';
    }
    begin = end + 1;
  }
  // The last level is a file unless the path ended with "/" or "/.".
  const bool names_folder = p.ends_with('/') || p == "." || p.ends_with("/.");
  if (!names_folder && !clean.empty() && clean != "/") clean.pop_back();
  return clean;
}

std::string AbsolutePath(std::string_view path) {
  std::string p = NormalizePath(path);
  if (!p.empty() && p[0] == '/') return p;
  std::error_code ec;
  auto cwd = std::filesystem::current_path(ec);
  if (ec) return p;
  std::string base = cwd.string();
  if (base.empty() || base.back() != '/') base += '/';
  return base + p;
}

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string dir = ec ? std::string(".") : exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string HomeFolder() {
  std::string dir;
  if (const char* home = std::getenv("OSTREVANE_HOME"); home && *home) {
    dir = home;
    if (dir.back() != '/') dir += '/';
    return dir;
  }
  // Beside the executable when this user can use a settings.ini there: an
  // installed program in a folder the user may not write falls through.
  dir = ExecutableFolder();
  const std::string beside = dir + "settings.ini";
  if (::access(beside.c_str(), F_OK) == 0 ? ::access(beside.c_str(), R_OK) == 0
                                          : ::access(dir.c_str(), W_OK) == 0)
    return dir;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    config = xdg;
  } else {
    const char* user_home = std::getenv("HOME");
    if (!user_home || !*user_home) {
      const passwd* entry = ::getpwuid(::getuid());
      user_home = entry ? entry->pw_dir : "/";
    }
    config = std::string(user_home) + "/.config";
  }
  dir = config + "/ostrevane/";
  // Private: it will hold the stored passwords.
  ::mkdir(config.c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(NormalizePath(path).c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(NormalizePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace ostrevane
