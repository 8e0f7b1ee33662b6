// The run modes, exercised on the real executable in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/path.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFile;

struct EntryTest : ::testing::Test {
  TempDir dir;
  testing::ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(args, dir.path(), dir.path());
  }
  bool Exists(const std::string& name) { return FileExists(dir / name); }
  // What -help prints: where the manual and settings.ini are.
  std::string Help() {
    const std::string exe = testing::ProgramPath();
    return "Read readme.txt text file\n  readme.txt:   " + exe.substr(0, exe.rfind('/') + 1) +
           "readme.txt\n  settings.ini: " + dir.path() +
           "/settings.ini\n  (OSTREVANE_HOME, when set, names the folder of settings.ini and "
           "names.csv)\n";
  }
};

TEST_F(EntryTest, NoParametersOnlyPointsToHelp) {
  auto r = Run({});
  EXPECT_EQ(r.out, "Use -help\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(Exists("settings.ini"));
}

TEST_F(EntryTest, HelpWinsOverListAndCreatesSettings) {
  auto r = Run({"-list:jobs.txt", "-Help"});
  EXPECT_EQ(r.out, Help());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Exists("settings.ini"));
  EXPECT_FALSE(Exists("log/RESULT.TXT"));
}

// A run-ending error is printed, and once the log folder is known it goes
// to the log and error files too. A list run leaves RESULT.TXT "ERROR"
// (written before anything could fail); single-job mode writes none.
TEST_F(EntryTest, RunEndingErrorsPrintClassAndMessage) {
  struct {
    std::vector<std::string> args;
    std::string out;
    bool list_run;
  } cases[] = {
      {{"-list"}, "Exception: list file can not be empty\n", true},
      {{"-udl:missing.udl"}, "Exception: File " + dir / "missing.udl" + " does not exist\n", false},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "log");
    WriteFile(dir / "names.csv", "");
    auto r = Run(c.args);
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.exit_code, 2) << c.args[0];
    if (c.list_run) {
      EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR") << c.args[0];
    } else {
      EXPECT_FALSE(Exists("log/RESULT.TXT")) << c.args[0];
    }
    bool in_error_file = false;
    for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
      if (e.path().string().ends_with("_err.txt"))
        in_error_file = ReadFile(e.path().string()).find("\xFF\xFE" "E\0x\0c\0") == 0;
    EXPECT_TRUE(in_error_file) << c.args[0];
  }
}

// Every parameter is a command, a job option or a command's value; anything
// else stops the program before it does anything. A "/" starts a command
// only when a command's name follows; otherwise it is a value (a path).
TEST_F(EntryTest, CommandLineMistakesStopBeforeAnythingRuns) {
  WriteFile(dir / "jobs.txt", "\r\n");
  struct {
    std::vector<std::string> args;
    std::string out;
    int exit_code;
  } cases[] = {
      {{"-list:jobs.txt", "-chek"}, "Exception: unknown switch -chek\n", 2},
      {{"-list:jobs.txt", "--check"}, "Exception: unknown switch --check\n", 2},
      {{"-lst:jobs.txt"}, "Exception: unknown switch -lst:jobs.txt\n", 2},
      {{"-list", "-x"}, "Exception: unknown switch -x\n", 2},
      {{"-list:jobs.txt", "extra"}, "Exception: unknown parameter extra\n", 2},
      {{"-tocsv:o.csv", "-sql", "q.sql"}, "Exception: unknown parameter q.sql\n", 2},
      {{"-version"}, "Ostrevane v00006\n", 0},
      {{"--help"}, Help(), 0},
      {{"-h"}, Help(), 0},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "log");
    auto r = Run(c.args);
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args[0];
    if (c.exit_code == 2) {
      EXPECT_FALSE(Exists("log")) << c.args[0];
    }
  }
  // A path after -list, or after "/list:", is the list file's name (the
  // list holds no job, which is a mistake of its own).
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-list", dir / "jobs.txt"}, {"/list:" + dir / "jobs.txt"}}) {
    auto r = Run(args);
    EXPECT_EQ(r.out, "Exception: " + dir / "jobs.txt" + ": the list holds no job\n") << args[0];
    EXPECT_EQ(r.exit_code, 2) << args[0];
  }
  // A password that starts with "/" is the command's value, not a switch.
  auto r = Run({"-setmailpwd", "/abc"});
  EXPECT_EQ(r.out, "Mail password was changed\n");
  EXPECT_NE(ReadFile(dir / "settings.ini").find("Password="), std::string::npos);
}

// Single-job mode checks the options and says that it ran nothing; a job
// without a connection could not run, which is an error. With -run the job
// runs as a one-line list: log, error file, RESULT files, exit status.
TEST_F(EntryTest, SingleJobModeChecksAndRunRunsTheJob) {
  testing::CreateSqliteDatabase(dir / "t.db",
                                "CREATE TABLE items (id INTEGER); INSERT INTO items VALUES (7);");
  testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
  WriteFile(dir / "q.sql", "SELECT id FROM items WHERE :password <> ''");
  WriteFile(dir / "bad.sql", "SELECT * FROM missing_table");
  const std::vector<std::string> job = {"-udl:t.udl", "-sql:q.sql", "-tocsv:out/x.csv", "-csvcp:0",
                                        "-params:password=hunter2"};
  struct {
    std::vector<std::string> args;
    std::string out;  // the whole output, or its last line for a run
    int exit_code;
    const char* result;  // RESULT.TXT afterwards; null: none
  } cases[] = {
      {{"-tocsv:out.csv", "-sql"}, "Exception: no file name given\n", 2, nullptr},
      {{"-tocsv:out.csv"}, "Nothing to connect to\n", 2, nullptr},
      {job,
       "the options are valid; nothing was run (a job runs from a list file: -list, or -run)\n", 0,
       nullptr},
      {{"-quiet", "-udl:t.udl", "-sql:q.sql"}, "", 0, nullptr},
      {{"-run", "-udl:t.udl", "-sql:bad.sql", "-tocsv:out/x.csv"},
       "Summary: 1 job: 0 done, 1 failed (job 1, line 1), 0 not run; 0 files, 0 bytes written;",
       1,
       "ERROR"},
      {{"-list:jobs.txt", "-run", "-udl:t.udl"},
       "Exception: -list and -run exclude each other: -run runs the job of the command line\n",
       2,
       nullptr},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "log");
    auto r = Run(c.args);
    if (c.result) {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args[0] << "\n" << r.out;
      EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), c.result) << c.args[0];
    } else {
      EXPECT_EQ(r.out, c.out) << c.args[0];
      EXPECT_FALSE(Exists("log/RESULT.TXT")) << c.args[0];
    }
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args[0];
    EXPECT_FALSE(Exists("out/x.csv")) << c.args[0];
  }

  std::vector<std::string> run = job;
  run.insert(run.begin() + 2, "-run");
  auto r = Run(run);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "out/x.csv"), "7");
  EXPECT_NE(r.out.find("[NOTE]    job 1, line 1: Done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("list file: none, the job of the command line (-run)"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");
  const std::string json = ReadFile(dir / "log/RESULT.json");
  EXPECT_NE(json.find("\"list_file\": null"), std::string::npos) << json;
  EXPECT_NE(json.find("\"list_line\": \"-udl:t.udl -sql:q.sql -tocsv:out/x.csv -csvcp:0 "
                      "-params:password=***\""),
            std::string::npos)
      << json;
  EXPECT_EQ(json.find("hunter2"), std::string::npos) << json;
}

TEST_F(EntryTest, PasswordCommandStoresOneEncryptedPassword) {
  auto r = Run({"-setmailpwd", "secret"});
  EXPECT_EQ(r.out, "Mail password was changed\n");
  EXPECT_EQ(r.exit_code, 0);
  const std::string ini = ReadFile(dir / "settings.ini");
  EXPECT_NE(ini.find("Password="), std::string::npos);
  EXPECT_EQ(ini.find("secret"), std::string::npos);
  EXPECT_TRUE(Exists("log/_log.txt"));
  // A later start reads (and decrypts) it without rewriting the file.
  r = Run({"-help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(ReadFile(dir / "settings.ini"), ini);
}

// A list without a job is a mistake, never a good night with nothing done:
// yesterday's "OK" does not survive it.
TEST_F(EntryTest, AListWithoutAJobIsAnError) {
  using namespace std::string_literals;
  const std::string lists[] = {
      "",
      "\r\n   \t \r\n",
      "# only comments\n; and more\n",
      "\xEF\xBB\xBF",  // a UTF-8 mark alone
      "\xEF\xBB\xBF\r\n# after a mark\r\n",
      "\xFF\xFE",              // a UTF-16LE mark alone
      "\xFF\xFE \0\r\0\n\0"s,  // and a blank line
  };
  for (const std::string& list : lists) {
    WriteFile(dir / "jobs.txt", list);
    std::filesystem::create_directories(dir / "log");
    WriteFile(dir / "log/RESULT.TXT", "OK");
    for (const bool check : {false, true}) {
      std::vector<std::string> args = {"-list:jobs.txt"};
      if (check) args.push_back("-check");
      auto r = Run(args);
      EXPECT_EQ(r.out, "Exception: jobs.txt: the list holds no job\n")
          << ::testing::PrintToString(list);
      EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(list);
    }
    EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR") << ::testing::PrintToString(list);
    EXPECT_NE(ReadFile(dir / "log/RESULT.json").find("\"exit_status\": 2"), std::string::npos);
  }
}

}  // namespace
}  // namespace ostrevane
