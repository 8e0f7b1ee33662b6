#include "writers/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/error.h"
#include "common/path.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(FolderPartTest, Delimiters) {
  struct {
    const char* name;
    const char* folder;
  } cases[] = {
      {"x.csv", ""},         {"out/x.csv", "out"},   {"out\\x.csv", "out"},
      {"/x.csv", "/"},       {"\\x.csv", "\\"},      {"a//x", "a//"},
      {"a/b\\c/d.csv", "a/b\\c"}, {"out/", "out"},   {"//x", "//"},
      {"c:x.csv", ""},  // ":" is no delimiter here
  };
  for (const auto& c : cases) EXPECT_EQ(FolderPart(c.name), c.folder) << c.name;
}

TEST(ForceFoldersTest, CreatesMissingLevelsTopDown) {
  TempDir dir;
  EXPECT_TRUE(CreateFolders(dir / "a\\b/c\\"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(CreateFolders(dir / "a/b"));  // exists already
  EXPECT_TRUE(CreateFolders("/"));
  EXPECT_FALSE(CreateFolders(""));
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(CreateFolders(dir / "file/sub"));
  EXPECT_FALSE(CreateFolders(dir / std::string("nul\0x", 5)));
}

TEST(OutputFileTest, CreatesReplacingAndWritesThroughTheBuffer) {
  TempDir dir;
  const std::string name = dir / "f.txt";
  WriteFile(name, "old content that is longer");
  {
    OutputFile f(name, OutputFile::Mode::kCreate, 4);
    for (const char* piece : {"ab", "cde", "", "f", "0123456789", "g"}) f.Write(piece);
    f.Close();
  }
  EXPECT_EQ(ReadFile(name), "abcdef0123456789g");
  {
    OutputFile f(name, OutputFile::Mode::kAppend);
    f.Write("+tail");
  }  // the destructor writes what is buffered
  EXPECT_EQ(ReadFile(name), "abcdef0123456789g+tail");
  {
    OutputFile f(name, OutputFile::Mode::kUpdate);
    EXPECT_EQ(f.Size(), 22);
    EXPECT_EQ(f.ReadTail(5), "+tail");
    EXPECT_EQ(f.ReadTail(100), "abcdef0123456789g+tail");
    f.Seek(17);
    f.Write("!more");
    WriteFile(dir / "src", "0123456789");
    const int fd = ::open((dir / "src").c_str(), O_RDONLY);
    f.CopyFrom(fd, 2, 5);
    ::close(fd);
    f.Close();
  }
  EXPECT_EQ(ReadFile(name), "abcdef0123456789g!more23456");
}

TEST(OutputFileTest, CreateErrorsNameTheAbsoluteFile) {
  TempDir dir;
  const std::string cwd = std::filesystem::current_path().string();
  struct {
    std::string name;
    std::string message;
  } cases[] = {
      {"no-such-folder-7f3a\\f.csv",
       "Cannot create file \"" + cwd + "/no-such-folder-7f3a/f.csv\". No such file or directory"},
      {dir / "x/", "Cannot create file \"" + dir.path() + "/x/\". Is a directory"},
      {dir / std::string("a\0b", 3),
       "Cannot create file \"" + dir.path() + "/a?b\". Invalid argument"},
  };
  for (const auto& c : cases) {
    try {
      OutputFile f(c.name);
      ADD_FAILURE() << "created " << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), kEFCreateError);
      EXPECT_EQ(e.message(), c.message);
    }
  }
  try {
    OutputFile f(dir / "missing.txt", OutputFile::Mode::kAppend);
    ADD_FAILURE() << "opened a missing file";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEFOpenError);
  }
}

TEST(OutputFileTest, WriteFailuresAreReportedNotShortened) {
  // /dev/full takes every open and fails every write.
  try {
    OutputFile f("/dev/full", OutputFile::Mode::kCreate, 16);
    f.Write("fits the buffer");
    f.Close();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEWriteError);
    EXPECT_EQ(e.message(), "Stream write error on file \"/dev/full\". No space left on device");
  }
  EXPECT_THROW(
      {
        OutputFile f("/dev/full", OutputFile::Mode::kCreate, 16);
        f.Write(std::string(100, 'x'));  // larger than the buffer: written at once
      },
      Error);
  // Pending bytes at destruction: no exception escapes.
  { OutputFile f("/dev/full"); f.Write("x"); }
}

}  // namespace
}  // namespace ostrevane
