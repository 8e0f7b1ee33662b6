#include "common/path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace ostrevane {

std::string NormalizePath(std::string_view path) {
  std::string p(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
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

std::string HomeFolder() {
  std::string dir;
  if (const char* home = std::getenv("OSTREVANE_HOME"); home && *home) {
    dir = home;
  } else {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    dir = ec ? std::string(".") : exe.parent_path().string();
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
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
