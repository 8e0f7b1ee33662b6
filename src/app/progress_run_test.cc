// The progress of a long job, end to end. The job writes its CSV into a
// named pipe that the test holds open without reading, so the job stays
// running, rows read, for as long as the test wants; then the test drains
// the pipe and the job ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProgressRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 50,000 rows: far more CSV than a pipe holds.
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(40));
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000)
      INSERT INTO items SELECT i, 'name number ' || i FROM n;)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
    WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:items.sql -tocsv:out.csv -csvcp:0\n");
    ASSERT_EQ(::mkfifo((dir / "out.csv").c_str(), 0600), 0);
    // Open for reading without waiting for a writer; the job's open then
    // finds a reader and its writes block once the pipe is full.
    reader_ = ::open((dir / "out.csv").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader_, 0);
  }
  void TearDown() override {
    if (reader_ >= 0) ::close(reader_);
  }

  // Holds the job for `hold`, then reads the pipe to its end; returns what
  // `run` returned.
  template <typename Run>
  auto HoldTheJob(std::chrono::milliseconds hold, Run run) {
    std::thread drain([&] {
      std::this_thread::sleep_for(hold);
      ::fcntl(reader_, F_SETFL, 0);  // blocking reads from here on
      char buf[65536];
      for (ssize_t n; (n = ::read(reader_, buf, sizeof buf)) != 0;)
        if (n < 0 && errno != EINTR && errno != EAGAIN) break;
    });
    auto result = run();
    drain.join();
    return result;
  }

  TempDir dir;
  int reader_ = -1;
};

// With -progress and no terminal: one plain line per running job and 10 s,
// on standard output, with its rows; none in the log, which keeps the
// job's block.
TEST_F(ProgressRunTest, PlainLinesEveryTenSecondsWithoutATerminal) {
  const auto r = HoldTheJob(std::chrono::milliseconds(11500), [&] {
    return testing::RunProgramStreams({"-list:jobs.txt", "-progress"}, dir.path(), dir.path());
  });
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  const std::regex line(
      R"(\d\d:\d\d:\d\d \[NOTE\]    job 1, line 1: ([1-9]\d*) rows read, \S+ \S+ written, \d+ rows/s, 0:00:1\d)");
  int progress_lines = 0;
  for (const std::string& text : SplitLines(r.out))
    if (std::regex_match(text, line)) ++progress_lines;
  EXPECT_EQ(progress_lines, 1) << r.out;
  for (const auto& e : std::filesystem::directory_iterator(dir / "log")) {
    if (!e.path().filename().string().ends_with("_log.txt")) continue;
    const std::string log = ReadFile(e.path().string());
    EXPECT_NE(log.find(std::string("D\0o\0n\0e\0", 8)), std::string::npos);
    EXPECT_EQ(log.find(std::string("r\0o\0w\0s\0/\0s\0", 12)), std::string::npos);
  }
}

// On a terminal (standard error a pseudo-terminal, by script(1)): live
// status lines that name the job and its rows, erased before the job's
// block is printed, and gone at the end.
TEST_F(ProgressRunTest, LiveStatusLinesOnATerminal) {
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script(1) is not installed";
  const std::string command = testing::ProgramPath() + " -list:jobs.txt";
  const auto r = HoldTheJob(std::chrono::milliseconds(1500), [&] {
    return testing::RunCommand({"/usr/bin/script", "-qefc", command, "/dev/null"}, dir.path(),
                               dir.path(), {{"TERM", "xterm"}});
  });
  EXPECT_EQ(r.exit_code, 0) << r.out;
  // A status line: erased line, then the job's counters.
  const std::regex status(R"(\r\x1b\[Kjob 1, line 1: [1-9]\d* rows read, )");
  EXPECT_TRUE(std::regex_search(r.out, status)) << ShowControlCharacters(r.out);
  // The block of the job comes after the last status line was erased.
  const size_t done = r.out.find("job 1, line 1: Done");
  ASSERT_NE(done, std::string::npos) << ShowControlCharacters(r.out);
  const size_t last_status = r.out.rfind("rows read");
  EXPECT_LT(last_status, done);
  EXPECT_NE(r.out.substr(last_status, done - last_status).find("\r\x1b[K"), std::string::npos);
  EXPECT_EQ(r.out.substr(done).find("rows read"), std::string::npos);
}

}  // namespace
}  // namespace ostrevane
