// Connecting to a MySQL or MariaDB server: the connection-string keys read
// into connection parameters, one client handle per connection, and the
// watchdog that cancels a statement (KILL QUERY over a second connection)
// when the command time-out expires.
#pragma once

#include <mysql.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "data/connection_string.h"

namespace ostrevane {

struct MysqlConnectParams {
  std::string host;    // empty: the local socket
  unsigned port = 0;   // 0: the library's default
  std::string socket;  // a Data Source that is a path
  std::string database, user, password;
  int connect_timeout = 0;  // seconds; 0: none
  int read_timeout = 0;     // seconds for every wait for the server; 0: none
  // TLS keys passed through (empty: not set).
  std::string ssl_mode, ssl_ca, ssl_ca_path, ssl_cert, ssl_key, ssl_cipher, ssl_crl,
      ssl_crl_path, ssl_password, tls_version;
};

// Reads Data Source (host, host:port, [IPv6]:port or a socket path), Port,
// Initial Catalog or Location, User ID, Password and the TLS keys. Raises
// an error for a Port or SslMode it cannot use.
MysqlConnectParams ReadMysqlConnectParams(const ConnectionString& cs, int connect_timeout);

struct MysqlCloser {
  void operator()(MYSQL* m) const { mysql_close(m); }
};
using MysqlHandle = std::unique_ptr<MYSQL, MysqlCloser>;

// A connected handle in utf8mb4 that may send several statements in one
// text. Raises EDatabaseError with the server's message (never the
// password) when the connection fails.
MysqlHandle ConnectMysql(const MysqlConnectParams& p);

// Raises EDatabaseError with the handle's last error, on one line.
[[noreturn]] void FailMysql(MYSQL* m);

// Cancels the statement that connection `thread_id` runs, over a
// connection of its own. Returns false when that could not be done. A
// server that does not take that connection and answer within a second is
// not waited for longer: it would not carry out the cancel either.
bool KillMysqlQuery(const MysqlConnectParams& p, unsigned long thread_id) noexcept;

// Turns TCP keepalive probes (keepalive.h) on for the connection's socket.
// Nothing for a local socket.
void KeepMysqlAlive(MYSQL* m);

// Cancels the running statement of one connection when its command
// time-out expires, or at once when the job is stopped (CancelNow). One
// thread per backend, started on the first use and kept until the backend
// ends; Arm and Disarm come from the connection's thread, CancelNow from
// any.
class MysqlWatchdog {
 public:
  MysqlWatchdog(const MysqlConnectParams& params, unsigned long thread_id)
      : params_(params), thread_id_(thread_id) {}
  ~MysqlWatchdog();
  MysqlWatchdog(const MysqlWatchdog&) = delete;
  MysqlWatchdog& operator=(const MysqlWatchdog&) = delete;

  // Starts the count for a statement; 0 seconds: no limit.
  void Arm(int seconds);
  // Stops the count; true when the statement was canceled for it. Waits
  // for a cancel under way to end, so that it never meets a later
  // statement.
  bool Disarm();
  // Cancels the running statement now, on the watchdog's thread; returns
  // at once. Disarm then reports no time-out: the statement fails with the
  // server's own error.
  void CancelNow();

 private:
  void Loop();
  void StartThread();  // under mutex_

  const MysqlConnectParams params_;
  const unsigned long thread_id_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool armed_ = false, fired_ = false, stopping_ = false, cancel_now_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace ostrevane
