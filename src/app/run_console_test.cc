// What a list run shows, end to end on the real executable: notes on
// standard output, error lines on standard error, -quiet, the lines that
// open and end the log, and text from data that could break a line or a
// terminal, or be huge.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/json_reader.h"
#include "common/path.h"
#include "common/text.h"
#include "common/text_file.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class RunConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'x'), (2, 'y');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    WriteFile(dir / "bad.sql", "SELECT * FROM missing_table");
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
  }

  // The text of the run's log file ("_log.txt") or error file ("_err.txt").
  std::string LogText(const std::string& suffix) {
    for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
      if (e.path().filename().string().ends_with(suffix)) {
        const std::string bytes = ReadFile(e.path().string());
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        return DecodeText(bytes.substr(2), TextEncoding::kUtf16Le);
      }
    return "";
  }

  TempDir dir;
};

// Notes go to standard output, error lines to standard error; on one
// terminal (one pipe here) they keep their order. The log opens with the
// list file and the working folder and ends with the summary, which the
// console shows too. -quiet leaves the errors alone on the console; the
// log keeps everything.
TEST_F(RunConsoleTest, NotesAndErrorsGoToTheirStreamsAndTheRunEndsWithASummary) {
  WriteFile(
      dir / "jobs.txt",
      "-udl:t.udl -sql:items.sql -tocsv:out/a.csv\n# a comment\n-sql:bad.sql -tocsv:out/b.csv\n");
  const std::string error = "[ERROR]   job 2, line 3: no such table: missing_table";
  struct {
    std::vector<std::string> args;
    bool quiet;
  } cases[] = {{{"-list:jobs.txt"}, false}, {{"-list:jobs.txt", "-quiet"}, true}};
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "log");
    const auto r = testing::RunProgramStreams(c.args, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 1) << c.quiet;
    const std::string bytes = std::to_string(std::filesystem::file_size(dir / "out/a.csv"));
    const std::string summary_start =
        "Summary: 2 jobs: 1 done, 1 failed (job 2, line 3), 0 not run; 1 file, " + bytes +
        " bytes written; elapsed 0:00:0";
    // Standard error: the error line alone.
    const std::vector<std::string> errors = SplitLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_NE(errors[0].find(error), std::string::npos) << r.err;
    // Standard output: every note, no error; nothing at all when quiet.
    if (c.quiet) {
      EXPECT_EQ(r.out, "");
    } else {
      const std::vector<std::string> notes = SplitLines(r.out);
      ASSERT_GE(notes.size(), 4u) << r.out;
      EXPECT_EQ(notes[0], "Ostrevane v00006");
      EXPECT_EQ(notes[1], "list file: " + dir / "jobs.txt");
      EXPECT_EQ(notes[2], "working folder: " + dir.path());
      EXPECT_TRUE(notes.back().starts_with(summary_start)) << notes.back();
      EXPECT_EQ(r.out.find("[ERROR]"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("job 1, line 1: Done"), std::string::npos) << r.out;
    }
    // The log has it all, whatever the console showed.
    const std::vector<std::string> log = SplitLines(LogText("_log.txt"));
    ASSERT_GE(log.size(), 5u);
    EXPECT_TRUE(log[0].ends_with(" Ostrevane v00006")) << log[0];
    EXPECT_NE(log[1].find(" Date and time formats of locale "), std::string::npos) << log[1];
    EXPECT_TRUE(log[2].ends_with(" list file: " + dir / "jobs.txt")) << log[2];
    EXPECT_TRUE(log[3].ends_with(" working folder: " + dir.path())) << log[3];
    EXPECT_NE(log.back().find(summary_start), std::string::npos) << log.back();
    EXPECT_NE(LogText("_log.txt").find(error), std::string::npos);
    EXPECT_NE(LogText("_err.txt").find(error), std::string::npos);
  }

  // Both streams on one pipe, as on a terminal: the error line stands
  // between the notes of its job and the summary, as it was written.
  std::filesystem::remove_all(dir / "log");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  const size_t executing = r.out.find("job 2, line 3: executing SQL");
  const size_t failed = r.out.find(error);
  const size_t end = r.out.find("Summary: ");
  EXPECT_LT(executing, failed) << r.out;
  EXPECT_LT(failed, end) << r.out;
  EXPECT_NE(end, std::string::npos) << r.out;
}

// A run-ending error ("Class: message") is an error line: standard error,
// also with -quiet; -check shows the jobs on standard output and each
// mistake of the list on standard error.
TEST_F(RunConsoleTest, RunEndingErrorsAndMistakesGoToStandardError) {
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:missing.sql -tocsv:out/a.csv\n");
  const std::string missing =
      "Exception: jobs.txt, line 1: File " + dir / "missing.sql" + " does not exist";
  for (const bool quiet : {false, true}) {
    std::vector<std::string> args = {"-list:jobs.txt"};
    if (quiet) args.push_back("-quiet");
    const auto r = testing::RunProgramStreams(args, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, missing + "\n");
  }
  // A mistake that quotes the list's text shows its controls escaped.
  WriteFile(dir / "jobs.txt",
            "-udl:t.udl -sql:missing.sql -tocsv:out/a.csv\n-bo\x1b[2Jgus -sql:items.sql\n");
  const auto check =
      testing::RunProgramStreams({"-list:jobs.txt", "-check"}, dir.path(), dir.path());
  EXPECT_EQ(check.exit_code, 2);
  EXPECT_NE(check.out.find("job 1"), std::string::npos) << check.out;
  EXPECT_EQ(check.out.find("Exception"), std::string::npos) << check.out;
  EXPECT_NE(check.err.find(missing), std::string::npos) << check.err;
  EXPECT_NE(check.err.find("line 2: unknown option \"-bo\\x1B[2Jgus\""), std::string::npos)
      << check.err;
  EXPECT_EQ(check.err.find('\x1b'), std::string::npos) << check.err;
}

// Characters that end a line or turn text around on a screen are shown
// escaped in every line: the console, the log and the error file.
TEST_F(RunConsoleTest, LineSeparatorsAndBidiControlsAreEscaped) {
  // A table name from the SQL comes back in the database's error message.
  struct {
    const char* raw;
    const char* shown;
  } cases[] = {
      {"\xC2\x85", "\\u0085"},     {"\xC2\x9B", "\\u009B"},     {"\xE2\x80\xA8", "\\u2028"},
      {"\xE2\x80\xA9", "\\u2029"}, {"\xE2\x80\xAE", "\\u202E"}, {"\xE2\x81\xA6", "\\u2066"},
      {"\xE2\x80\x8F", "\\u200F"}, {"\x1B[2J", "\\x1B[2J"},
  };
  std::string name = "t", shown = "t";
  for (const auto& c : cases) name += std::string(c.raw) + "-", shown += std::string(c.shown) + "-";
  WriteFile(dir / "odd.sql", "SELECT * FROM \"" + name + "\"");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:odd.sql -tocsv:out/a.csv\n");
  const auto r = testing::RunProgramStreams({"-list:jobs.txt"}, dir.path(), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  const std::string line = "job 1, line 1: no such table: " + shown;
  for (const std::string& text : {r.err, LogText("_log.txt"), LogText("_err.txt")}) {
    EXPECT_NE(text.find(line), std::string::npos) << text;
    for (const auto& c : cases) EXPECT_EQ(text.find(c.raw), std::string::npos) << c.shown;
  }
}

// A long value in a file-name template fails the job with a short message:
// a path too long for the system is named cut, a value longer than any
// path is refused before it costs memory. Every line, the error file and
// RESULT.json stay small, and so does the process.
TEST_F(RunConsoleTest, ALongValueMakesNoLongMessage) {
  struct {
    size_t value_bytes;
    const char* start;  // of the job's error message
    const char* end;
  } cases[] = {
      {3'000, "The value of field name cannot be used in a file name: \"abab",
       "...\" would make a name of 3004 bytes, more than the 255 that the file system allows"},
      {20'000'000, "The value of field name cannot be used in a file name: \"abab",
       "...\" is 20000000 bytes long, longer than any path (4095)"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "log");
    testing::CreateSqliteDatabase(dir / "big.db",
                                  "CREATE TABLE big (name TEXT);"
                                  "INSERT INTO big VALUES (replace(hex(zeroblob(" +
                                      std::to_string(c.value_bytes / 2) + ")), '00', 'ab'));");
    testing::WriteUdlFile(dir / "big.udl", testing::SqliteConnectionString("big.db"));
    WriteFile(dir / "big.sql", "SELECT name FROM big");
    WriteFile(dir / "jobs.txt", "-udl:big.udl -sql:big.sql -tocsv:out/:NAME.csv\n");
    const auto r = testing::RunProgramStreams({"-list:jobs.txt"}, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 1) << r.err.substr(0, 2000);
    EXPECT_LT(r.out.size() + r.err.size(), 8u * 1024) << r.err.substr(0, 2000);
    EXPECT_NE(r.err.find(c.start), std::string::npos) << r.err.substr(0, 2000);
    EXPECT_NE(r.err.find(c.end), std::string::npos) << r.err.substr(0, 2000);
    EXPECT_LT(LogText("_log.txt").size(), 8u * 1024);
    EXPECT_LT(LogText("_err.txt").size(), 4u * 1024);
    const std::string json = ReadFile(dir / "log/RESULT.json");
    EXPECT_LT(json.size(), 8u * 1024);
    const JsonValue report = ParseJson(json);
    const std::string& error = report.Find("jobs")->items.at(0).Find("error")->text;
    EXPECT_EQ(error.find(c.start), 0u) << error.substr(0, 2000);
    EXPECT_NE(error.find(c.end), std::string::npos) << error.substr(0, 2000);
    // The value is in memory a few times over (the database's page, the
    // row, its text); never once per byte of provenance or per line.
    if (!testing::kSanitizedBuild) {
      EXPECT_LT(size_t(r.peak_rss_kb) * 1024, 40'000'000 + 4 * c.value_bytes) << r.peak_rss_kb;
    }
  }
}

}  // namespace
}  // namespace ostrevane
