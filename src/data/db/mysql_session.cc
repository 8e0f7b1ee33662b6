#include "data/db/mysql_session.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <charconv>

#include "common/error.h"
#include "common/text.h"
#include "data/db/keepalive.h"
#include "data/db/mysql_types.h"

namespace ostrevane {
namespace {

// The client library sets itself up on the first handle; two workers
// connecting at once must not both do it.
void InitLibrary() {
  static const int once = [] { return mysql_library_init(0, nullptr, nullptr); }();
  if (once != 0) throw Error(kEDatabaseError, "The MariaDB client library could not start");
}

unsigned ParsePort(const std::string& text) {
  unsigned port = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || p != text.data() + text.size() || port == 0 || port > 65535)
    throw Error(kEDatabaseError, "The port \"" + text + "\" is no port number");
  return port;
}

std::string FirstOf(const ConnectionString& cs, std::initializer_list<const char*> keys) {
  for (const char* k : keys)
    if (cs.Has(k)) return cs.Get(k);
  return "";
}

void SetText(MYSQL* m, mysql_option option, const std::string& value) {
  if (!value.empty()) mysql_options(m, option, value.c_str());
}

// TLS as the MySQL client's --ssl-mode means it. The client library
// encrypts as soon as any TLS file is set and checks the chain whenever it
// has a CA, so each mode hands it only what that mode uses:
//   DISABLED         nothing: never encrypted
//   PREFERRED        encrypted when the server offers TLS, nothing checked
//   REQUIRED         encrypted or no connection, nothing checked
//   VERIFY_CA        and the chain checked against SslCa/SslCaPath
//   VERIFY_IDENTITY  and the host name checked against the certificate
// Left out, the mode is PREFERRED.
void SetTls(MYSQL* h, const MysqlConnectParams& p) {
  const std::string mode = p.ssl_mode.empty() ? "PREFERRED" : p.ssl_mode;
  if (mode == "DISABLED") return;
  const bool check_chain = mode == "VERIFY_CA" || mode == "VERIFY_IDENTITY";
  const my_bool enforce = mode != "PREFERRED", check_name = mode == "VERIFY_IDENTITY";
  mysql_ssl_set(h, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (enforce) mysql_options(h, MYSQL_OPT_SSL_ENFORCE, &enforce);
  mysql_options(h, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &check_name);
  if (check_chain) {
    SetText(h, MYSQL_OPT_SSL_CA, p.ssl_ca);
    SetText(h, MYSQL_OPT_SSL_CAPATH, p.ssl_ca_path);
    SetText(h, MYSQL_OPT_SSL_CRL, p.ssl_crl);
    SetText(h, MYSQL_OPT_SSL_CRLPATH, p.ssl_crl_path);
  }
  SetText(h, MYSQL_OPT_SSL_CERT, p.ssl_cert);
  SetText(h, MYSQL_OPT_SSL_KEY, p.ssl_key);
  SetText(h, MYSQL_OPT_SSL_CIPHER, p.ssl_cipher);
  SetText(h, MARIADB_OPT_TLS_PASSPHRASE, p.ssl_password);
  SetText(h, MARIADB_OPT_TLS_VERSION, p.tls_version);
}

}  // namespace

MysqlConnectParams ReadMysqlConnectParams(const ConnectionString& cs, int connect_timeout) {
  MysqlConnectParams p;
  std::string ds = cs.Get("Data Source");
  std::string port;
  if (!ds.empty() && ds.front() == '/') {
    p.socket = ds;
  } else if (!ds.empty() && ds.front() == '[') {  // [IPv6]:port
    const size_t close = ds.find(']');
    p.host = ds.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < ds.size() && ds[close + 1] == ':')
      port = ds.substr(close + 2);
  } else {
    const size_t colon = ds.rfind(':');
    if (colon != std::string::npos && ds.find(':') == colon) {
      p.host = ds.substr(0, colon);
      port = ds.substr(colon + 1);
    } else {
      p.host = ds;
    }
  }
  if (port.empty()) port = cs.Get("Port");
  if (!port.empty()) p.port = ParsePort(port);
  p.database = FirstOf(cs, {"Initial Catalog", "Location"});
  p.user = cs.Get("User ID");
  p.password = cs.Get("Password");
  p.connect_timeout = connect_timeout < 0 ? 0 : connect_timeout;
  p.ssl_mode = ToUpperAscii(cs.Get("SslMode"));
  if (!p.ssl_mode.empty() && p.ssl_mode != "DISABLED" && p.ssl_mode != "PREFERRED" &&
      p.ssl_mode != "REQUIRED" && p.ssl_mode != "VERIFY_CA" && p.ssl_mode != "VERIFY_IDENTITY")
    throw Error(kEDatabaseError, "SslMode \"" + cs.Get("SslMode") +
                                     "\" is not known (use DISABLED, PREFERRED, REQUIRED, "
                                     "VERIFY_CA or VERIFY_IDENTITY)");
  p.ssl_ca = cs.Get("SslCa");
  p.ssl_ca_path = cs.Get("SslCaPath");
  if ((p.ssl_mode == "VERIFY_CA" || p.ssl_mode == "VERIFY_IDENTITY") && p.ssl_ca.empty() &&
      p.ssl_ca_path.empty())
    throw Error(kEDatabaseError, "SslMode " + p.ssl_mode +
                                     " checks the server's certificate against a CA: give "
                                     "SslCa (or SslCaPath)");
  p.ssl_cert = cs.Get("SslCert");
  p.ssl_key = cs.Get("SslKey");
  p.ssl_cipher = cs.Get("SslCipher");
  p.ssl_crl = cs.Get("SslCrl");
  p.ssl_crl_path = cs.Get("SslCrlPath");
  p.ssl_password = cs.Get("SslPassword");
  p.tls_version = cs.Get("TlsVersion");
  return p;
}

void FailMysql(MYSQL* m) {
  std::string message = m ? mysql_error(m) : "";
  if (message.empty()) message = "The connection to the server failed";
  throw Error(kEDatabaseError, MysqlOneLine(message));
}

MysqlHandle ConnectMysql(const MysqlConnectParams& p) {
  InitLibrary();
  MysqlHandle m(mysql_init(nullptr));
  if (!m) throw Error(kEDatabaseError, "Out of memory connecting to MySQL");
  MYSQL* h = m.get();
  // No option files: a job connects with what its connection string says.
  if (p.connect_timeout > 0) {
    const unsigned t = unsigned(p.connect_timeout);
    mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &t);
    // Sending waits for the server to take the data; it never waits long.
    mysql_options(h, MYSQL_OPT_WRITE_TIMEOUT, &t);
  }
  if (p.read_timeout > 0) {
    const unsigned t = unsigned(p.read_timeout);
    mysql_options(h, MYSQL_OPT_READ_TIMEOUT, &t);
  }
  mysql_options(h, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  const my_bool no = 0;
  mysql_options(h, MYSQL_OPT_RECONNECT, &no);  // a silent reconnect would lose the transaction
  const unsigned tcp = MYSQL_PROTOCOL_TCP, sock = MYSQL_PROTOCOL_SOCKET;
  if (!p.socket.empty())
    mysql_options(h, MYSQL_OPT_PROTOCOL, &sock);
  else if (!p.host.empty() && (p.host != "localhost" || p.port != 0))
    mysql_options(h, MYSQL_OPT_PROTOCOL, &tcp);  // "localhost:3306" means TCP
  SetTls(h, p);
  auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  if (!mysql_real_connect(h, text(p.host), text(p.user), p.password.c_str(), text(p.database),
                          p.port, text(p.socket), CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS))
    FailMysql(h);
  // The client library refuses a server without TLS only when it checks
  // the host name; for the other modes that need TLS the check is ours.
  // Nothing but the login has crossed the connection (the usual methods
  // send a scramble, not the password; the manual names the exceptions).
  // A local socket is no network: it needs no TLS, as for the MySQL client.
  const bool over_socket =
      !p.socket.empty() || p.host.empty() || (p.host == "localhost" && p.port == 0);
  if (!over_socket && !p.ssl_mode.empty() && p.ssl_mode != "DISABLED" &&
      p.ssl_mode != "PREFERRED" && !mysql_get_ssl_cipher(h))
    throw Error(kEDatabaseError, "SslMode " + p.ssl_mode +
                                     ": the server offers no TLS, so the connection was not "
                                     "encrypted; it was closed");
  // The handshake's character set covers the server's answers; SET NAMES
  // also fixes the collation of literals and the session's own view. A
  // streamed result waits while another worker holds the writer lock; the
  // server must not give up on sending it meanwhile (its default: 60 s).
  static constexpr char kSession[] = "SET NAMES utf8mb4, SESSION net_write_timeout = 86400";
  if (mysql_real_query(h, kSession, sizeof kSession - 1) != 0 || mysql_autocommit(h, 0) != 0)
    FailMysql(h);
  return m;
}

bool KillMysqlQuery(const MysqlConnectParams& p, unsigned long thread_id) noexcept {
  try {
    MysqlConnectParams quick = p;
    quick.connect_timeout = quick.read_timeout = 1;
    MysqlHandle m = ConnectMysql(quick);
    const std::string sql = "KILL QUERY " + std::to_string(thread_id);
    return mysql_real_query(m.get(), sql.c_str(), sql.size()) == 0;
  } catch (...) {
    return false;
  }
}

void KeepMysqlAlive(MYSQL* m) {
  const my_socket fd = mysql_get_socket(m);
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      (address.ss_family != AF_INET && address.ss_family != AF_INET6))
    return;
  const int on = 1, idle = kKeepaliveIdleSeconds, interval = kKeepaliveIntervalSeconds,
            count = kKeepaliveCount;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

MysqlWatchdog::~MysqlWatchdog() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void MysqlWatchdog::Arm(int seconds) {
  if (seconds <= 0) return;
  {
    std::lock_guard lock(mutex_);
    armed_ = true;
    fired_ = false;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    StartThread();
  }
  wake_.notify_one();
}

void MysqlWatchdog::CancelNow() {
  {
    std::lock_guard lock(mutex_);
    cancel_now_ = true;
    StartThread();
  }
  wake_.notify_one();
}

void MysqlWatchdog::StartThread() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
}

bool MysqlWatchdog::Disarm() {
  std::lock_guard lock(mutex_);
  armed_ = false;
  const bool fired = fired_;
  fired_ = false;
  return fired;
}

void MysqlWatchdog::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (cancel_now_) {
      cancel_now_ = armed_ = false;
      KillMysqlQuery(params_, thread_id_);
      continue;
    }
    if (!armed_) {
      wake_.wait(lock);
      continue;
    }
    if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
        std::chrono::steady_clock::now() >= deadline_) {
      // Under the lock: Disarm waits for the cancel to be done.
      armed_ = false;
      fired_ = true;
      KillMysqlQuery(params_, thread_id_);
    }
  }
}

}  // namespace ostrevane
