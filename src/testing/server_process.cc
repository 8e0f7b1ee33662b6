#include "testing/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace ostrevane::testing {

ServerProcess::ServerProcess(const std::string& script, const std::vector<std::string>& args) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_text = {"/usr/bin/python3", "-u",
                                        std::string(OSTREVANE_SOURCE_DIR) + "/tests/servers/" + script};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    // The server must not outlive a test binary that crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(pipefd[1], 1);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  out_fd_ = pipefd[0];

  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (port_ == 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out_fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
    char buf[256];
    ssize_t n = read(out_fd_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, size_t(n));
    size_t at = out.find("PORT ");
    if (at != std::string::npos && out.find('\n', at) != std::string::npos)
      port_ = std::atoi(out.c_str() + at + 5);
  }
  if (port_ == 0) {
    Stop();
    throw std::runtime_error("test server " + script + " did not start: " + out);
  }
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (int i = 0; i < 200 && !reaped; ++i) {
      reaped = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!reaped) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (out_fd_ >= 0) {
    close(out_fd_);
    out_fd_ = -1;
  }
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

TestCertificate MakeTestCertificate(const std::string& folder) {
  TestCertificate c{folder + "/cert.pem", folder + "/key.pem"};
  const std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout '" + c.key + "' -out '" + c.cert +
      "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
  return c;
}

}  // namespace ostrevane::testing
