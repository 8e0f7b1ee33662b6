// The run modes, exercised on the real executable in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/path.h"
#include "testing/run_program.h"
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
      {{"-list", dir / "jobs.txt"}, "Ostrevane v00006\n", 0},
      {{"/list:" + dir / "jobs.txt"}, "Ostrevane v00006\n", 0},
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
  // A password that starts with "/" is the command's value, not a switch.
  auto r = Run({"-setmailpwd", "/abc"});
  EXPECT_EQ(r.out, "Mail password was changed\n");
  EXPECT_NE(ReadFile(dir / "settings.ini").find("Password="), std::string::npos);
}

TEST_F(EntryTest, SingleJobModeWithoutConnection) {
  auto r = Run({"-tocsv:out.csv", "-sql"});
  EXPECT_EQ(r.exit_code, 2);  // -sql with an empty value names no file
  r = Run({"-tocsv:out.csv"});
  EXPECT_EQ(r.out, "Nothing to connect to\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(Exists("log/RESULT.TXT"));
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

TEST_F(EntryTest, EmptyListRunsNothingAndSaysOk) {
  WriteFile(dir / "jobs.txt", "\r\n   \t \r\n");
  auto r = Run({"-list:jobs.txt"});
  EXPECT_EQ(r.out, "Ostrevane v00006\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");
}

}  // namespace
}  // namespace ostrevane
