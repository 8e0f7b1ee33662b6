// Mistakes in what a run starts from, end to end on the executable: text
// files in an encoding the program does not read them with, settings.ini
// with misspelt names or values that do not parse, and a log folder that
// cannot be made. Each either stops the run with an exit status of 2 and
// a message naming the file, the line and the fix, or (an ignored line of
// settings.ini) runs with a warning that says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(StartMistakesTest, EachMistakeIsNamedWithItsFileLineAndFix) {
  const std::string kJob = "-udl:t.udl -sql:q.sql -tocsv:out.csv -csvcp:0\n";
  const std::string kSql = "SELECT name FROM items WHERE name = 'caf";
  struct {
    const char* what;
    std::string settings;
    std::map<std::string, std::string> files;  // besides t.db and t.udl
    int exit_code;
    std::string message;  // "{dir}" stands for the test's folder
    std::string csv;      // out.csv when the job ran, else "" (no file)
  } cases[] = {
      {"a Latin-1 SQL file",
       "",
       {{"q.sql", kSql + "\xE9'"}, {"jobs.txt", kJob}},
       2,
       "Exception: jobs.txt, line 1: File \"{dir}/q.sql\" is not valid UTF-8: line 1, byte "
       "offset 40 (byte 0xE9). Save it as UTF-8, or name the code page it is written in with "
       "ansi_codepage in section [Ostrevane] of settings.ini (for example "
       "ansi_codepage=CP1252).",
       ""},
      {"the same file, its code page named",
       "[Ostrevane]\nansi_codepage=CP1252\n",
       {{"q.sql", kSql + "\xE9'"}, {"jobs.txt", kJob}},
       0,
       "Done",
       "caf\xE9"},
      {"a UTF-8 SQL file under that code page stays UTF-8",
       "[Ostrevane]\nansi_codepage=CP1252\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       0,
       "Done",
       "caf\xE9"},
      {"a list file with a Latin-1 comment",
       "",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", "\r\n# f\xFCr den Export\r\n" + kJob}},
       2,
       "Exception: File \"{dir}/jobs.txt\" is not valid UTF-8: line 2, byte offset 5 (byte "
       "0xFC).",
       ""},
      {"a misspelt key: a warning, and the run goes on",
       "[Ostrevane]\nthread_cout=1\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       0,
       "[WARNING] {dir}/settings.ini, line 2: unknown key \"thread_cout\" in [Ostrevane] (did "
       "you mean \"thread_count\"?); the line is ignored",
       "caf\xC3\xA9"},
      {"a misspelt section",
       "[Mial]\nSMTPServer=mx.example.com\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       0,
       "[WARNING] {dir}/settings.ini, line 1: unknown section [Mial] (did you mean [Mail]?); "
       "its keys are ignored",
       "caf\xC3\xA9"},
      {"a time-out with a unit",
       "[Ostrevane]\r\ncommand_timeout=10s\r\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       2,
       "Exception: {dir}/settings.ini, line 2: command_timeout=10s in [Ostrevane] is not a valid "
       "value; command_timeout takes a whole number of seconds, such as 10",
       ""},
      {"a security mode as a word",
       "[Mail]\nTLS=yes\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       2,
       "Exception: {dir}/settings.ini, line 2: TLS=yes in [Mail] is not a valid value; TLS takes "
       "a number: 0 no TLS",
       ""},
      {"a log folder inside a missing folder",
       "[Ostrevane]\nlog_dir=missing/log\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       2,
       "EFCreateError: Cannot create file \"{dir}/missing/log/RESULT.TXT\". No such file or "
       "directory: the log folder \"{dir}/missing/log\" does not exist, nor does "
       "\"{dir}/missing\" (only the last folder of log_dir is created). log_dir in section "
       "[Ostrevane] of settings.ini names the folder of the log files and RESULT.TXT; a "
       "relative one is taken from the working folder, here \"{dir}\"",
       ""},
      {"a log folder that is a file",
       "[Ostrevane]\nlog_dir=q.sql\n",
       {{"q.sql", kSql + "\xC3\xA9'"}, {"jobs.txt", kJob}},
       2,
       "EFCreateError: Cannot create file \"{dir}/q.sql/RESULT.TXT\". Not a directory: "
       "\"{dir}/q.sql\" is a file, not a folder.",
       ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (name VARCHAR(20));
      INSERT INTO items VALUES ('caf)" "\xC3\xA9" R"(');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "settings.ini", c.settings);
    for (const auto& [name, bytes] : c.files) WriteFile(dir / name, bytes);

    const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
    std::string message = c.message;
    for (size_t at; (at = message.find("{dir}")) != std::string::npos;)
      message.replace(at, 5, dir.path());
    EXPECT_EQ(r.exit_code, c.exit_code) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << c.what << "\n" << r.out;
    if (c.csv.empty()) {
      EXPECT_FALSE(std::filesystem::exists(dir / "out.csv")) << c.what;
    } else {
      EXPECT_EQ(ReadFile(dir / "out.csv"), c.csv) << c.what;
    }
    // A warning is a line of the log too.
    if (message.starts_with("[WARNING]")) {
      EXPECT_NE(testing::RunLogText(dir / "log").find(message), std::string::npos) << c.what;
    }
  }
}

}  // namespace
}  // namespace ostrevane
