#include "testing/private_server.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "data/dataset.h"
#include "testing/server_process.h"

namespace ostrevane::testing {
namespace {

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Initdb refuses to run as root, and MariaDB's server should not: as root,
// the commands run as the packages' own users.
bool AsRoot() { return geteuid() == 0; }

std::string MakeFolder(const char* name, const char* owner) {
  std::string path = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
  if (!mkdtemp(path.data())) return "";
  std::filesystem::permissions(path, std::filesystem::perms(0755));
  if (AsRoot()) Shell(std::string("chown ") + owner + " " + path);
  return path;
}

// Waits until a connection to `cs` succeeds (at most a minute).
bool Reachable(const std::string& cs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    try {
      Connection c;
      c.set_connection_string(cs);
      c.set_connection_timeout(2);
      c.Open();
      return true;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  return false;
}

pid_t FirstNumberOf(const std::string& file) {
  std::ifstream in(file);
  long pid = -1;
  in >> pid;
  return pid_t(pid);
}

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "pid (comm) state ppid ...": the name may hold blanks and ")".
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) out.push_back(pid_t(std::stol(name)));
  }
  return out;
}

}  // namespace

void PrivateServer::Freeze() {
  for (pid_t pid : Processes()) kill(pid, SIGSTOP);
  frozen_ = true;
}

void PrivateServer::Thaw() {
  for (pid_t pid : Processes()) kill(pid, SIGCONT);
  frozen_ = false;
}

PrivatePgServer::PrivatePgServer() {
  for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql"))
    if (std::filesystem::exists(e.path() / "bin/initdb")) bindir_ = (e.path() / "bin").string();
  if (bindir_.empty()) {
    error_ = "no PostgreSQL server installed";
    return;
  }
  folder_ = MakeFolder("ostrevane-own-pg", "postgres");
  const int port = UnusedPort();
  const std::string as = AsRoot() ? "su postgres -s /bin/sh -c " : "sh -c ";
  const std::string data = folder_ + "/data";
  if (!Shell(as + "'" + bindir_ + "/initdb -D " + data + " -U postgres -A trust --no-sync >" +
             folder_ + "/initdb.log 2>&1'") ||
      !Shell(as + "\"" + bindir_ + "/pg_ctl -D " + data + " -l " + folder_ +
             "/server.log -w -o '-h 127.0.0.1 -p " + std::to_string(port) + " -k " + folder_ +
             " -c fsync=off' start >/dev/null 2>&1\"")) {
    error_ = "the PostgreSQL server did not start (see " + folder_ + ")";
    return;
  }
  port_ = port;
  if (!Reachable(ConnectionString())) {
    error_ = "the PostgreSQL server does not answer";
    port_ = 0;
  }
}

PrivatePgServer::~PrivatePgServer() {
  if (frozen_) Thaw();
  if (!folder_.empty() && !bindir_.empty()) {
    const std::string as = AsRoot() ? "su postgres -s /bin/sh -c " : "sh -c ";
    Shell(as + "'" + bindir_ + "/pg_ctl -D " + folder_ +
          "/data -m immediate stop >/dev/null 2>&1'");
  }
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

std::string PrivatePgServer::ConnectionString(const std::string& database) const {
  return "Provider=PostgreSQL;Data Source=127.0.0.1:" + std::to_string(port_) +
         ";Initial Catalog=" + database + ";User ID=postgres";
}

std::vector<pid_t> PrivatePgServer::Processes() const {
  const pid_t postmaster = FirstNumberOf(folder_ + "/data/postmaster.pid");
  if (postmaster <= 0) return {};
  // The postmaster first: stopped, it starts no further process.
  std::vector<pid_t> all = {postmaster};
  for (pid_t child : ChildrenOf(postmaster)) all.push_back(child);
  return all;
}

PrivateMariadbServer::PrivateMariadbServer() {
  const std::string server = "/usr/sbin/mariadbd";
  if (!std::filesystem::exists(server)) {
    error_ = "no MariaDB server installed";
    return;
  }
  folder_ = MakeFolder("ostrevane-own-mariadb", "mysql");
  const std::string data = folder_ + "/data";
  std::filesystem::create_directory(data);
  if (AsRoot()) Shell("chown mysql " + data);
  const int port = UnusedPort();
  // Without grant tables an empty data folder is enough: no install step.
  std::vector<std::string> args = {server,
                                   "--no-defaults",
                                   "--datadir=" + data,
                                   "--bind-address=127.0.0.1",
                                   "--port=" + std::to_string(port),
                                   "--socket=" + folder_ + "/mysqld.sock",
                                   "--pid-file=" + folder_ + "/mysqld.pid",
                                   "--log-error=" + folder_ + "/server.log",
                                   "--skip-grant-tables",
                                   "--skip-name-resolve",
                                   "--innodb-buffer-pool-size=16M",
                                   "--innodb-log-file-size=4M",
                                   "--innodb-flush-log-at-trx-commit=0",
                                   "--innodb-doublewrite=0"};
  if (AsRoot()) args.push_back("--user=mysql");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server must not outlive a test binary that crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = "fork failed";
    return;
  }
  port_ = port;
  if (!Reachable(ConnectionString())) {
    error_ = "the MariaDB server does not answer (see " + folder_ + "/server.log)";
    port_ = 0;
  }
}

PrivateMariadbServer::~PrivateMariadbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);  // nothing of it is kept
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

std::string PrivateMariadbServer::ConnectionString(const std::string& database) const {
  return "Provider=MySQL;Data Source=127.0.0.1:" + std::to_string(port_) +
         (database.empty() ? "" : ";Initial Catalog=" + database) + ";User ID=root";
}

std::vector<pid_t> PrivateMariadbServer::Processes() const {
  return pid_ > 0 ? std::vector<pid_t>{pid_} : std::vector<pid_t>{};
}

}  // namespace ostrevane::testing
