#include "testing/run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "common/text_file.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace ostrevane::testing {

std::string ProgramPath() { return OSTREVANE_EXE; }

std::string RunLogText(const std::string& log_dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(log_dir, ec)) {
    if (!entry.path().string().ends_with("_log.txt")) continue;
    const std::string bytes = ReadFile(entry.path().string());
    if (bytes.starts_with("\xFF\xFE")) return DecodeText(bytes.substr(2), TextEncoding::kUtf16Le);
    return bytes;
  }
  return "";
}

namespace {

// In a forked child: sends standard output and error to `out_fd`, reads
// no input, and becomes `ostrevane args...` in `cwd`. Never returns.
[[noreturn]] void ExecProgram(const std::vector<std::string>& args, const std::string& cwd,
                              const std::string& home,
                              const std::map<std::string, std::string>& env, int out_fd,
                              std::optional<RunAs> as = std::nullopt) {
  dup2(out_fd, 1);
  dup2(out_fd, 2);
  close(out_fd);
  int devnull = open("/dev/null", O_RDONLY);
  if (devnull >= 0) dup2(devnull, 0);
  if (as && (setgroups(0, nullptr) != 0 || setgid(as->gid) != 0 || setuid(as->uid) != 0))
    _exit(127);
  if (chdir(cwd.c_str()) != 0) _exit(127);
  setenv("OSTREVANE_HOME", home.c_str(), 1);
  for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> argv;
  std::string exe = ProgramPath();
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

}  // namespace

pid_t StartProgram(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& home, std::optional<RunAs> as) {
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devnull < 0) throw std::runtime_error("cannot open /dev/null");
  pid_t pid = fork();
  if (pid == 0) ExecProgram(args, cwd, home, {}, devnull, as);
  close(devnull);
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& home, const std::map<std::string, std::string>& env) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(pipefd[0]);
    ExecProgram(args, cwd, home, env, pipefd[1]);
  }
  close(pipefd[1]);
  ProgramResult result;
  char buf[65536];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.out.append(buf, size_t(n));
  }
  close(pipefd[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.peak_rss_kb = usage.ru_maxrss;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace ostrevane::testing
