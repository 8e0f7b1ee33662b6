#include "testing/ssh_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testing/server_process.h"

namespace ostrevane::testing {
namespace {

constexpr char kSshd[] = "/usr/sbin/sshd";
constexpr char kLockFile[] = "/run/ostrevane-sftp-test.lock";

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string RandomPassword() {
  static constexpr char kChars[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device random;
  std::string p;
  for (int i = 0; i < 24; ++i) p += kChars[random() % (sizeof kChars - 1)];
  return p;
}

// The server is up when it greets with its SSH version.
bool Greets(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    char buf[4] = {};
    ok = recv(fd, buf, sizeof buf, MSG_WAITALL) == 4 && std::string(buf, 4) == "SSH-";
  }
  close(fd);
  return ok;
}

}  // namespace

std::string SshServer::Unavailable() {
  if (access(kSshd, X_OK) != 0) return "no OpenSSH server (/usr/sbin/sshd; package openssh-server)";
  if (geteuid() != 0) return "the SFTP tests log in a test account, which needs root";
  if (!getpwnam(kSftpTestUser))
    return std::string("no user ") + kSftpTestUser + " (scripts/setup makes it)";
  return "";
}

SshServer::SshServer(const std::string& folder) {
  const passwd* user = getpwnam(kSftpTestUser);
  if (!user) throw std::runtime_error("no test user");
  const uid_t uid = user->pw_uid;
  const gid_t gid = user->pw_gid;
  // The account reads its authorized keys and writes uploads here.
  chmod(folder.c_str(), 0755);
  // The test's own temporary folder above it must let the account pass.
  const std::string parent = folder.substr(0, folder.find_last_of('/'));
  struct stat st {};
  if (!parent.empty() && stat(parent.c_str(), &st) == 0) chmod(parent.c_str(), (st.st_mode & 07777) | 0111);
  Run("ssh-keygen -q -t ed25519 -N '' -C host -f '" + folder + "/host_key'");
  client_key_ = folder + "/client_key";
  Run("ssh-keygen -q -t ed25519 -N '' -C client -f '" + client_key_ + "'");
  Run("cp '" + client_key_ + ".pub' '" + folder + "/authorized_keys'");
  chmod((folder + "/authorized_keys").c_str(), 0644);
  upload_folder_ = folder + "/upload";
  mkdir(upload_folder_.c_str(), 0755);
  if (chown(upload_folder_.c_str(), uid, gid) != 0) throw std::runtime_error("chown failed");
  mkdir("/run/sshd", 0755);  // sshd's privilege separation folder

  // One server at a time on this machine (they share the test account);
  // the port is picked once this one holds the lock, so that a server of
  // another test process cannot be listening on it by then.
  lock_fd_ = open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd_ < 0 || flock(lock_fd_, LOCK_EX) != 0) throw std::runtime_error("no lock file");
  port_ = UnusedPort();
  std::ofstream(folder + "/sshd_config")
      << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey " << folder << "/host_key\n"
      << "PidFile none\nUsePAM no\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
      << "PubkeyAuthentication yes\nAuthorizedKeysFile " << folder << "/authorized_keys\n"
      << "StrictModes no\nAllowUsers " << kSftpTestUser << "\nPermitRootLogin no\n"
      << "Subsystem sftp internal-sftp\nForceCommand internal-sftp\n"
      << "AllowTcpForwarding no\nX11Forwarding no\nLogLevel VERBOSE\n";
  const std::string host_public = ReadWhole(folder + "/host_key.pub");
  known_hosts_line_ = "[127.0.0.1]:" + std::to_string(port_) + " " +
                      host_public.substr(0, host_public.find(" host"));

  password_ = RandomPassword();
  Run("echo '" + std::string(kSftpTestUser) + ":" + password_ + "' | chpasswd");

  log_ = folder + "/sshd.log";
  const std::string& log = log_;
  const std::string config = folder + "/sshd_config";
  pid_ = fork();
  if (pid_ == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    dup2(fd, 1);
    execl(kSshd, kSshd, "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Greets(port_)) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > end) {
      pid_ = -1;
      Stop();
      throw std::runtime_error("sshd did not start: " + ReadWhole(log));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

SshServer::~SshServer() { Stop(); }

std::string SshServer::log() const { return ReadWhole(log_); }

void SshServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (lock_fd_ >= 0) {
    std::system(("usermod -p '!' " + std::string(kSftpTestUser) + " >/dev/null 2>&1").c_str());
    close(lock_fd_);  // releases the lock
    lock_fd_ = -1;
  }
}

}  // namespace ostrevane::testing
