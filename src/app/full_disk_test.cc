// A log folder on a full disk, end to end: a small tmpfs mounted for the
// test (root only; skipped otherwise). The run never leaves an earlier
// "OK" behind, and once jobs ran its exit status and report say so, however
// the log fares.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/json_reader.h"
#include "testing/run_program.h"
#include "testing/server_process.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A tmpfs of `pages` 4 KiB pages at `path`, unmounted at the end.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, int pages) : path_(path) {
    std::filesystem::create_directories(path);
    const std::string options = "size=" + std::to_string(pages * 4) + "k";
    if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0)
      mounted_ = true;
    else
      error_ = std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

  // Fills the disk up to `free_pages` free pages with one file.
  void Fill(int free_pages) {
    const std::string filler = path_ + "/filler";
    std::ofstream(filler, std::ios::binary).close();
    const std::string page(4096, 'f');
    for (;;) {
      std::ofstream out(filler, std::ios::binary | std::ios::app);
      out << page;
      out.flush();
      if (!out) break;
    }
    // The last page that did not fit may hold part of a page: cut back to
    // whole pages, then give `free_pages` back.
    const auto size = std::filesystem::file_size(filler);
    std::filesystem::resize_file(filler, size / 4096 * 4096 - uintmax_t(free_pages) * 4096);
  }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'x'), (2, 'y');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
  }
  TempDir dir;
};

// At the start: the disk is so full that not even "ERROR" fits. The earlier
// run's "OK" goes, and the run ends as one that could not start.
TEST_F(FullDiskTest, AtTheStartAnEarlierOkDoesNotSurvive) {
  SmallDisk disk(dir / "log", 16);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
  WriteFile(dir / "log/RESULT.TXT", "OK");
  disk.Fill(0);
  WriteFile(dir / "settings.ini", "[Ostrevane]\nlog_dir=" + dir / "log" + "\n");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:items.sql -tocsv:out/a.csv\n");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  EXPECT_EQ(r.exit_code, 2) << r.out;
  EXPECT_NE(r.out.find("No space left on device"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/a.csv"));
  if (std::filesystem::exists(dir / "log/RESULT.TXT")) {
    EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  }
}

// During the run: a job's lines fill the disk (its delivery notes each of
// forty refused tries before the server takes the files). The console
// still shows every line, no further job starts, the run ends with exit
// status 1 (jobs ran, not "could not start"), RESULT.TXT says "ERROR", and
// RESULT.json, written in place from memory, tells each job's outcome and
// why the run failed.
TEST_F(FullDiskTest, DuringTheRunTheJobsThatRanAreReported) {
  SmallDisk disk(dir / "log", 16);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
  // Earlier results, replaced rather than added: with 2 pages free the
  // start files fit and the log has room for 8 KiB.
  WriteFile(dir / "log/RESULT.TXT", "OK");
  WriteFile(dir / "log/RESULT.json", "{}");
  disk.Fill(2);
  std::filesystem::create_directories(dir / "http");
  std::string plan;
  for (int i = 0; i < 40; ++i) plan += "503,";
  testing::ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", plan + "200"});
  WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\nlog_dir=" + dir / "log" +
                                      "\ndelivery_retries=60\ndelivery_retry_delay=0\n"
                                      "[HTTP]\nServer=http://127.0.0.1:" +
                                      std::to_string(http.port()) + "/in\n");
  WriteFile(dir / "jobs.txt",
            "-udl:t.udl -sql:items.sql -tocsv:out/a.csv -http\n"
            "-clear -udl:t.udl -sql:items.sql -tocsv:out/b.csv\n");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("job 1, line 1: Done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The log is incomplete: EWriteError: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Summary: 2 jobs: 1 done, 0 failed, 1 not run"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "out/a.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out/b.csv"));
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  const JsonValue report = ParseJson(ReadFile(dir / "log/RESULT.json"));
  EXPECT_EQ(report.Find("exit_status")->text, "1");
  EXPECT_NE(report.Find("error")->text.find("No space left on device"), std::string::npos);
  const auto& jobs = report.Find("jobs")->items;
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].Find("status")->text, "done");
  EXPECT_EQ(jobs[1].Find("status")->text, "not run");
}

}  // namespace
}  // namespace ostrevane
