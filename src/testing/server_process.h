// Local servers for tests: a Python script from tests/servers/, run by
// /usr/bin/python3 (Debian's server packages belong to that interpreter),
// listening on 127.0.0.1 with an ephemeral port that it prints on its
// standard output as "PORT <n>" once it is ready.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ostrevane::testing {

class ServerProcess {
 public:
  // Starts tests/servers/`script` with `args` and waits (at most 20 s) for
  // its port; throws std::runtime_error when it does not come up.
  ServerProcess(const std::string& script, const std::vector<std::string>& args);
  // Terminates the server and reaps it (SIGKILL after 2 s).
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }

 private:
  void Stop();

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int UnusedPort();

// A throwaway self-signed certificate for 127.0.0.1 made with the openssl
// command in `folder`: folder/cert.pem (also the CA file to trust) and
// folder/key.pem.
struct TestCertificate {
  std::string cert;
  std::string key;
};
TestCertificate MakeTestCertificate(const std::string& folder);

}  // namespace ostrevane::testing
