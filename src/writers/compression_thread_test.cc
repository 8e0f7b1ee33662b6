#include "writers/compression_thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "common/error.h"
#include "common/sha256.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"
#include "writers/output_files.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;

// Text that compresses somewhat, different all along (no block repeats
// the one before it).
std::string Text(size_t size, uint32_t seed) {
  std::string out;
  out.reserve(size);
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    out += std::to_string(x >> 16);
    out += (x & 7) == 0 ? "\r\n" : ";";
  }
  out.resize(size);
  return out;
}

// Writes `part` as one member into `name` (appending when `append`), in
// pieces of an odd size.
void WriteMember(const std::string& name, bool append, const std::string& part,
                 CompressionThread& thread, ContentDigest& digest) {
  OutputFile file(name, append ? OutputFile::Mode::kAppend : OutputFile::Mode::kCreate,
                  OutputFile::kDefaultBuffer, {}, &digest);
  file.Compress(&thread);
  for (size_t at = 0; at < part.size(); at += 70001)
    file.Write(std::string_view(part).substr(at, 70001));
  file.Close();
}

// Files of one member or two (a name that comes back), of every size
// around the block size, read back by the methods' own tools; the digest
// taken on the way is the compressed file's.
TEST(CompressionThreadTest, MembersReadBackByTheStandardTools) {
  const bool have_tools = std::filesystem::exists("/usr/bin/gzip") &&
                          std::filesystem::exists("/usr/bin/zstd");
  if (!have_tools) GTEST_SKIP() << "gzip or zstd missing (scripts/setup installs them)";
  TempDir dir;
  const size_t block = CompressionThread::kBlock;
  struct {
    Compression compression;
    const char* test;    // checks the file
    const char* decode;  // writes its content to standard output
  } methods[] = {
      {{CompressionMethod::kGzip, 6}, "gzip -t", "gzip -dc"},
      {{CompressionMethod::kGzip, 9}, "gzip -t", "gzip -dc"},
      {{CompressionMethod::kZstd, 3}, "zstd -q -t", "zstd -q -dc"},
      {{CompressionMethod::kZstd, 12}, "zstd -q -t", "zstd -q -dc"},
  };
  struct {
    size_t first, second;  // the members' sizes; 0 for the second: none
  } sizes[] = {{0, 0}, {100, 0}, {block, 0}, {6 * block + 12345, 0}, {block + 1, 2 * block}};
  for (const auto& m : methods) {
    CompressionThread thread(m.compression);  // one for all the files, as in a writer call
    for (const auto& s : sizes) {
      const std::string label =
          std::string(m.decode) + " " + std::to_string(s.first) + "+" + std::to_string(s.second);
      const std::string name = dir / "f";
      const std::string first = Text(s.first, 1), second = Text(s.second, 2);
      ContentDigest digest;
      WriteMember(name, false, first, thread, digest);
      if (s.second > 0) WriteMember(name, true, second, thread, digest);
      const std::string file = ReadFile(name);
      EXPECT_EQ(digest.size(), int64_t(file.size())) << label;
      EXPECT_EQ(digest.Finish(), Sha256Hex(file)) << label;
      const auto tested = testing::RunCommand({"/bin/sh", "-c", std::string(m.test) + " f"},
                                              dir.path(), dir.path());
      EXPECT_EQ(tested.exit_code, 0) << label << ": " << tested.out;
      const auto decoded = testing::RunCommand(
          {"/bin/sh", "-c", std::string(m.decode) + " f > plain"}, dir.path(), dir.path());
      EXPECT_EQ(decoded.exit_code, 0) << label << ": " << decoded.out;
      EXPECT_TRUE(ReadFile(dir / "plain") == first + second) << label;
    }
  }
}

// A disk that fills while the thread writes: the failure comes back to the
// writer, naming the file, and the thread takes the next file as usual.
// A member that is given up (its writer failed) writes nothing more.
TEST(CompressionThreadTest, FailuresComeBackToTheWriter) {
  for (CompressionMethod method : {CompressionMethod::kGzip, CompressionMethod::kZstd}) {
    CompressionThread thread({method, 1});
    const std::string noise = Text(5 * CompressionThread::kBlock, 3);
    std::string error;
    try {
      ContentDigest unused;
      WriteMember("/dev/full", false, noise, thread, unused);
    } catch (const Error& e) {
      error = e.class_name() + ": " + e.message();
    }
    EXPECT_EQ(error, std::string(kEWriteError) +
                         ": Stream write error on file \"/dev/full\". No space left on device");

    TempDir dir;
    {
      OutputFile given_up(dir / "given_up", OutputFile::Mode::kCreate);
      given_up.Compress(&thread);
      given_up.Write(noise);
    }  // destroyed without Close: the writer failed elsewhere
    ContentDigest digest;
    WriteMember(dir / "next", false, "next file", thread, digest);
    EXPECT_EQ(digest.size(), int64_t(ReadFile(dir / "next").size()));
  }
}

}  // namespace
}  // namespace ostrevane
