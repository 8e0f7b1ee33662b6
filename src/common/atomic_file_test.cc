#include "common/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "common/unique_fd.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(AtomicFileTest, ReplacesWholeKeepingModeAndLinks) {
  TempDir dir;
  WriteFile(dir / "old.txt", "old content");
  ::chmod((dir / "old.txt").c_str(), 0640);
  EXPECT_TRUE(ReplaceFileAtomically(dir / "old.txt", "new", 0600));
  EXPECT_EQ(ReadFile(dir / "old.txt"), "new");
  EXPECT_EQ(ModeOf(dir / "old.txt"), 0640u);

  const mode_t mask = ::umask(022);
  EXPECT_TRUE(ReplaceFileAtomically(dir / "fresh.txt", "x", 0666));
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir / "fresh.txt"), 0644u);

  // A link stays a link; its target gets the content.
  std::filesystem::create_symlink("old.txt", dir / "link.txt");
  EXPECT_TRUE(ReplaceFileAtomically(dir / "link.txt", "through the link", 0600));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadFile(dir / "old.txt"), "through the link");
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"fresh.txt", "link.txt", "old.txt"}));
}

TEST(AtomicFileTest, UnfinishedVersionLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  WriteFile(dir / "f.csv", "old");
  {
    AtomicFile file(dir / "f.csv", 0666);
    ASSERT_EQ(file.error(), 0);
    // The temporary file sits beside the file and says what it is.
    EXPECT_EQ(file.temp_path().rfind(dir / "f.csv.tmp-", 0), 0u) << file.temp_path();
    WriteFile(file.temp_path(), "half of the new");
    EXPECT_EQ(ReadFile(dir / "f.csv"), "old");
  }
  EXPECT_EQ(ReadFile(dir / "f.csv"), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"f.csv"});

  AtomicFile file(dir / "f.csv", 0666);
  WriteFile(file.temp_path(), "new");
  EXPECT_EQ(file.Commit(false), 0);
  EXPECT_EQ(ReadFile(dir / "f.csv"), "new");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"f.csv"});
}

TEST(AtomicFileTest, RefusesWhatItMayNotReplace) {
  TempDir dir;
  WriteFile(dir / "read-only", "keep");
  ::chmod((dir / "read-only").c_str(), 0444);
  std::filesystem::create_directory(dir / "folder");
  ::mkfifo((dir / "pipe").c_str(), 0600);
  struct {
    std::string path;
    int error;
  } cases[] = {
      {dir / "read-only", EACCES},  // even for a privileged process
      {dir / "folder", EISDIR},    {dir / "new/", EISDIR},
      {dir / "pipe", EINVAL},      {dir / "missing/f.csv", ENOENT},
  };
  for (const auto& c : cases) {
    AtomicFile file(c.path, 0666);
    EXPECT_EQ(file.error(), c.error) << c.path;
    EXPECT_NE(file.Commit(true), 0) << c.path;
  }
  EXPECT_FALSE(ReplaceFileAtomically(dir / "read-only", "lost", 0600));
  EXPECT_EQ(ReadFile(dir / "read-only"), "keep");
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"folder", "pipe", "read-only"}));
}

TEST(AtomicFileTest, AMoveIntoPlaceCanBeTakenBack) {
  struct {
    bool old_version;
    bool may_swap;
    Moved moved;
  } cases[] = {
      {true, true, Moved::kExchanged},
      {true, false, Moved::kSetAside},  // where the file system cannot swap
      {false, true, Moved::kNew},
      {false, false, Moved::kNew},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.old_version) + std::to_string(c.may_swap));
    TempDir dir;
    if (c.old_version) WriteFile(dir / "f.csv", "old");
    const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
    std::string temp, aside;
    ASSERT_EQ(CreateTemporaryFile(folder.get(), "f.csv", 0666, false, &temp), 0);
    WriteFile(dir / temp, "new");
    Moved moved = Moved::kNew;
    ASSERT_EQ(MoveIntoPlace(folder.get(), temp, "f.csv", &moved, &aside, c.may_swap), 0);
    EXPECT_EQ(moved, c.moved);
    EXPECT_EQ(ReadFile(dir / "f.csv"), "new");
    // The old version is kept until the caller decides.
    if (c.old_version) {
      EXPECT_EQ(ReadFile(dir / (aside.empty() ? temp : aside)), "old");
    }

    ASSERT_EQ(UndoMove(folder.get(), temp, "f.csv", moved, aside), 0);
    EXPECT_EQ(ReadFile(dir / temp), "new");
    std::set<std::string> expected{temp};
    if (c.old_version) expected.insert("f.csv");
    EXPECT_EQ(Entries(dir.path()), expected);
    if (c.old_version) {
      EXPECT_EQ(ReadFile(dir / "f.csv"), "old");
    }
  }
}

}  // namespace
}  // namespace ostrevane
