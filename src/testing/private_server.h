// Database servers of one test's own, for tests that freeze a server with
// SIGSTOP: the shared servers of the test run (pg_server.h,
// mysql_server.h) must never be stopped. Each is started in a temporary
// folder on a free port of 127.0.0.1 and removed with it; starting takes a
// few seconds. When the server package is missing, or the server does not
// come up, error() says why and the test skips.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ostrevane::testing {

class PrivateServer {
 public:
  virtual ~PrivateServer() = default;
  bool running() const { return port_ != 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // Stops every process of the server (SIGSTOP): it neither answers nor
  // closes its connections, as a hung server. Thaw() lets it go on.
  void Freeze();
  void Thaw();

 protected:
  virtual std::vector<pid_t> Processes() const = 0;

  std::string folder_;
  int port_ = 0;
  std::string error_;
  bool frozen_ = false;
};

// A PostgreSQL cluster (initdb, pg_ctl) whose superuser "postgres" logs in
// without a password.
class PrivatePgServer : public PrivateServer {
 public:
  PrivatePgServer();
  ~PrivatePgServer() override;
  std::string ConnectionString(const std::string& database = "postgres") const;

 protected:
  std::vector<pid_t> Processes() const override;

 private:
  std::string bindir_;
};

// A MariaDB server on an empty data folder without grant tables: any user
// logs in, as root may.
class PrivateMariadbServer : public PrivateServer {
 public:
  PrivateMariadbServer();
  ~PrivateMariadbServer() override;
  std::string ConnectionString(const std::string& database = "") const;

 protected:
  std::vector<pid_t> Processes() const override;

 private:
  pid_t pid_ = -1;
};

}  // namespace ostrevane::testing
