// The program as an ordinary user runs it after installation: the
// executable in a folder the user may not write, no OSTREVANE_HOME.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct Outcome {
  int exit_code = -1;
  std::string out;
};

// Runs `exe args...` as `user` in `cwd`, with HOME=`home` and nothing else
// of the test's environment that could point at a settings folder.
Outcome RunAs(const passwd& user, const std::string& exe, const std::vector<std::string>& args,
              const std::string& cwd, const std::string& home) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 1);
    ::dup2(pipefd[1], 2);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(user.pw_gid) != 0 || ::setuid(user.pw_uid) != 0 ||
        ::chdir(cwd.c_str()) != 0)
      ::_exit(127);
    std::string home_variable = "HOME=" + home;
    char* env[] = {home_variable.data(), const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
    std::vector<std::string> copy = args;
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execve(exe.c_str(), argv.data(), env);
    ::_exit(127);
  }
  ::close(pipefd[1]);
  Outcome outcome;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;) outcome.out.append(buf, size_t(n));
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

constexpr char kHomeLine[] =
    "  (OSTREVANE_HOME, when set, names the folder of settings.ini and names.csv)\n";

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(InstalledRunTest, AnOrdinaryUserKeepsSettingsInTheConfigFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "running the program as another user needs root";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the program as";

  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  // An installation prefix that only root may write.
  const std::string bin = dir / "prefix/bin";
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(testing::ProgramPath(), bin + "/ostrevane");
  WriteFile(bin + "/readme.txt", "manual");
  ::chmod((dir / "prefix").c_str(), 0755);
  ::chmod(bin.c_str(), 0755);
  ::chmod((bin + "/ostrevane").c_str(), 0755);
  ::chmod((bin + "/readme.txt").c_str(), 0644);
  // The user's home, and a working folder with a list of one job in it.
  const std::string home = dir / "home";
  const std::string work = home + "/work";
  std::filesystem::create_directories(work);
  testing::CreateSqliteDatabase(work + "/t.db",
                                "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  testing::WriteUdlFile(work + "/t.udl", testing::SqliteConnectionString("t.db"));
  WriteFile(work + "/q.sql", "SELECT a FROM t");
  WriteFile(work + "/jobs.txt", "-udl:t.udl -sql:q.sql -tocsv:out.csv\r\n");
  for (const std::string& path :
       {home, work, work + "/jobs.txt", work + "/t.db", work + "/t.udl", work + "/q.sql"})
    ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << path;

  const std::string config = home + "/.config/ostrevane";
  Outcome help = RunAs(*nobody, bin + "/ostrevane", {"-help"}, home + "/work", home);
  EXPECT_EQ(help.exit_code, 0) << help.out;
  EXPECT_EQ(help.out, "Read readme.txt text file\n  readme.txt:   " + bin +
                          "/readme.txt\n  settings.ini: " + config + "/settings.ini\n" +
                          kHomeLine);
  EXPECT_EQ(ModeOf(config), 0700u);
  EXPECT_EQ(ModeOf(config + "/settings.ini"), 0600u);
  EXPECT_FALSE(std::filesystem::exists(bin + "/settings.ini"));

  Outcome run = RunAs(*nobody, bin + "/ostrevane", {"-list:jobs.txt"}, home + "/work", home);
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_EQ(ReadFile(home + "/work/log/RESULT.TXT"), "OK");
}

// An account whose home cannot hold settings.ini, and a working folder it
// may not write: help still answers and says where settings.ini goes, and a
// run stops naming the folder, the reason and the setting that moves it.
TEST(InstalledRunTest, UnwritableHomeOrWorkingFolderIsNamedWithItsSetting) {
  if (::geteuid() != 0) GTEST_SKIP() << "running the program as another user needs root";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the program as";

  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  // Only root may write the installation folder and the working folder.
  const std::string bin = dir / "bin";
  const std::string work = dir / "work";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(work);
  std::filesystem::copy_file(testing::ProgramPath(), bin + "/ostrevane");
  WriteFile(work + "/jobs.txt", "# nothing to do\n");
  for (const std::string& path : {bin, work}) ::chmod(path.c_str(), 0755);
  ::chmod((bin + "/ostrevane").c_str(), 0755);
  ::chmod((work + "/jobs.txt").c_str(), 0644);

  // No home to keep settings.ini in.
  const std::string missing_home = dir / "no-such-home";
  const std::string unusable =
      "Unable to write to " + missing_home +
      "/.config/ostrevane/settings.ini: No such file or directory. OSTREVANE_HOME names the "
      "folder of settings.ini: set it to a folder this user may write";
  Outcome help = RunAs(*nobody, bin + "/ostrevane", {"-help"}, work, missing_home);
  EXPECT_EQ(help.exit_code, 0) << help.out;
  EXPECT_EQ(help.out, "Read readme.txt text file\n  readme.txt:   " + bin +
                          "/readme.txt\n  settings.ini: " + missing_home +
                          "/.config/ostrevane/settings.ini\n  settings.ini cannot be used: " +
                          unusable + "\n" + kHomeLine);
  Outcome run = RunAs(*nobody, bin + "/ostrevane", {"-list:jobs.txt"}, work, missing_home);
  EXPECT_EQ(run.exit_code, 2) << run.out;
  EXPECT_EQ(run.out, "Exception: " + unusable + "\n");

  // A home of its own, but a working folder it may not write: the default
  // log folder "log" cannot be made there.
  const std::string home = dir / "home";
  std::filesystem::create_directories(home);
  ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  run = RunAs(*nobody, bin + "/ostrevane", {"-list:jobs.txt"}, work, home);
  EXPECT_EQ(run.exit_code, 2) << run.out;
  EXPECT_EQ(run.out, "EFCreateError: Cannot create file \"" + work +
                         "/log/RESULT.TXT\". No such file or directory: the log folder \"" +
                         work + "/log\" does not exist and cannot be created in \"" + work +
                         "\" (Permission denied). log_dir in section [Ostrevane] of settings.ini "
                         "names the folder of the log files and RESULT.TXT; a relative one is "
                         "taken from the working folder, here \"" + work + "\"\n");
}

}  // namespace
}  // namespace ostrevane
