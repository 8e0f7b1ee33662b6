#include "testing/run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

std::vector<JsonValue> RunReportJobs(const std::string& log_dir) {
  const JsonValue report = ParseJson(ReadFile(log_dir + "/RESULT.json"));
  const JsonValue* jobs = report.Find("jobs");
  return jobs ? jobs->items : std::vector<JsonValue>{};
}

namespace {

// In a forked child: sends standard output to `out_fd` and standard error
// to `err_fd`, reads no input, and becomes `command` (its first element
// the path of the program) in `cwd`, as the user `as` when given. Never
// returns.
[[noreturn]] void ExecCommand(const std::vector<std::string>& command, const std::string& cwd,
                              const std::string& home,
                              const std::map<std::string, std::string>& env, int out_fd,
                              int err_fd, std::optional<RunAs> as = std::nullopt) {
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (out_fd > 2) close(out_fd);
  if (err_fd > 2 && err_fd != out_fd) close(err_fd);
  int devnull = open("/dev/null", O_RDONLY);
  if (devnull >= 0) dup2(devnull, 0);
  if (as && (setgroups(0, nullptr) != 0 || setgid(as->gid) != 0 || setuid(as->uid) != 0))
    _exit(127);
  if (chdir(cwd.c_str()) != 0) _exit(127);
  setenv("OSTREVANE_HOME", home.c_str(), 1);
  for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
  std::vector<std::string> copy = command;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

std::vector<std::string> ProgramCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command{ProgramPath()};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

// Waits for `pid` and fills the exit code and peak memory of `result`.
template <typename Result>
void Reap(pid_t pid, Result& result) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_rss_kb = usage.ru_maxrss;
}

}  // namespace

pid_t StartProgram(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& home, std::optional<RunAs> as) {
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devnull < 0) throw std::runtime_error("cannot open /dev/null");
  pid_t pid = fork();
  if (pid == 0) ExecCommand(ProgramCommand(args), cwd, home, {}, devnull, devnull, as);
  close(devnull);
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

ProgramResult RunCommand(const std::vector<std::string>& command, const std::string& cwd,
                         const std::string& home, const std::map<std::string, std::string>& env) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(pipefd[0]);
    ExecCommand(command, cwd, home, env, pipefd[1], pipefd[1]);
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
  Reap(pid, result);
  return result;
}

ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& home, const std::map<std::string, std::string>& env) {
  return RunCommand(ProgramCommand(args), cwd, home, env);
}

ProgramStreams RunProgramStreams(const std::vector<std::string>& args, const std::string& cwd,
                                 const std::string& home,
                                 const std::map<std::string, std::string>& env) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
  if (pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    ExecCommand(ProgramCommand(args), cwd, home, env, out_pipe[1], err_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramStreams result;
  // Both at once: a child that fills one pipe while the other is read
  // would wait for ever.
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  char buf[65536];
  for (int open_count = 2; open_count > 0;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
        continue;
      }
      texts[i]->append(buf, size_t(n));
    }
  }
  Reap(pid, result);
  return result;
}

}  // namespace ostrevane::testing
