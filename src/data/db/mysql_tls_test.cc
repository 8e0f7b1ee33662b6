// SslMode against a MariaDB server of the test's own that takes TLS
// connections only (tests/servers/mariadb_tls.py, certificate for
// 127.0.0.1 made by openssl), and against the run's plain server.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "common/error.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "testing/mysql_server.h"
#include "testing/server_process.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

struct Outcome {
  std::string error;   // empty: connected
  std::string cipher;  // the session's TLS cipher; empty: unencrypted
};

Outcome ConnectWith(const std::string& cs) {
  Outcome o;
  try {
    Connection c;
    c.set_connection_string(cs);
    c.set_connection_timeout(5);
    c.Open();
    o.cipher = testing::QueryRows(c, "SHOW SESSION STATUS LIKE 'Ssl_cipher'")[0][1].s;
  } catch (const Error& e) {
    o.error = e.message();
    if (o.error.empty()) o.error = "?";
  }
  return o;
}

TEST(MysqlTlsTest, SslModesMeanWhatTheMysqlClientMeans) {
  if (!testing::MysqlPort().size()) GTEST_SKIP() << "no MariaDB test server";
  testing::TempDir dir;
  testing::TempDir other;
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  const std::string wrong_ca = testing::MakeTestCertificate(other.path()).cert;
  std::unique_ptr<testing::ServerProcess> server;
  try {
    server = std::make_unique<testing::ServerProcess>(
        "mariadb_tls.py",
        std::vector<std::string>{"--cert", cert.cert, "--key", cert.key, "--ca", cert.cert});
  } catch (const std::runtime_error& e) {
    FAIL() << e.what();
  }
  const std::string port = std::to_string(server->port());
  const std::string plain = testing::MysqlPort();
  struct {
    const char* mode;
    std::string host, ca;
    bool connects;
    const char* error;  // a part of the error when it does not
  } cases[] = {
      // The TLS-only server, certificate for 127.0.0.1.
      {"", "127.0.0.1:" + port, "", true, ""},
      {"PREFERRED", "127.0.0.1:" + port, wrong_ca, true, ""},
      // Refused (the server says "Access denied"): the same login passes in
      // every mode that encrypts.
      {"DISABLED", "127.0.0.1:" + port, cert.cert, false, "denied"},
      {"REQUIRED", "127.0.0.1:" + port, wrong_ca, true, ""},
      {"VERIFY_CA", "127.0.0.1:" + port, cert.cert, true, ""},
      {"VERIFY_CA", "localhost:" + port, cert.cert, true, ""},
      {"VERIFY_CA", "127.0.0.1:" + port, wrong_ca, false, "certificate"},
      {"VERIFY_CA", "127.0.0.1:" + port, "", false, "give SslCa"},
      {"VERIFY_IDENTITY", "127.0.0.1:" + port, cert.cert, true, ""},
      {"VERIFY_IDENTITY", "localhost:" + port, cert.cert, false, "certificate"},
      {"VERIFY_IDENTITY", "127.0.0.1:" + port, wrong_ca, false, "certificate"},
      // The run's server, which offers no TLS.
      {"", "127.0.0.1:" + plain, "", true, ""},
      {"PREFERRED", "127.0.0.1:" + plain, "", true, ""},
      {"DISABLED", "127.0.0.1:" + plain, cert.cert, true, ""},
      {"REQUIRED", "127.0.0.1:" + plain, "", false, "the server offers no TLS"},
      {"VERIFY_CA", "127.0.0.1:" + plain, cert.cert, false, "TLS"},
  };
  for (const auto& row : cases) {
    std::string cs = "Provider=MySQL;Data Source=" + row.host + ";User ID=root";
    if (*row.mode) cs += std::string(";SslMode=") + row.mode;
    if (!row.ca.empty()) cs += ";SslCa=" + row.ca;
    const Outcome o = ConnectWith(cs);
    const bool tls_server = row.host.find(port) != std::string::npos;
    if (row.connects) {
      EXPECT_EQ(o.error, "") << cs;
      EXPECT_EQ(!o.cipher.empty(), tls_server) << cs;
    } else {
      EXPECT_NE(o.error.find(row.error), std::string::npos) << cs << ": " << o.error;
    }
  }
}

}  // namespace
}  // namespace ostrevane
