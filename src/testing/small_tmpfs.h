// A small tmpfs mounted for one test (a full disk on demand) and taken
// away afterwards. Mounting needs root; mounted() says whether it worked.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace ostrevane::testing {

class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& path, const std::string& size) : path_(path) {
    std::filesystem::create_directory(path);
    mounted_ = ::geteuid() == 0 &&
               ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace ostrevane::testing
