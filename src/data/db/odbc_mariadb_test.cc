// The ODBC backend against a MariaDB server through the MariaDB ODBC driver
// ("MariaDB Unicode" in odbcinst.ini): unsigned integers, braced values,
// fractional seconds and the program's own time-outs, for a driver that
// ignores the time-out attributes. Skipped without the test server
// (OSTREVANE_MYSQL_PORT) or the driver.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "common/datetime.h"
#include "common/guid.h"
#include "common/text.h"
#include "data/connection_string.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "testing/server_process.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using Clock = std::chrono::steady_clock;

std::string MysqlPort() {
  const char* port = std::getenv("OSTREVANE_MYSQL_PORT");
  return port ? port : "";
}

bool DriverRegistered(const std::string& name) {
  const char* sysini = std::getenv("ODBCSYSINI");
  std::ifstream ini(std::string(sysini ? sysini : "/etc") + "/odbcinst.ini");
  for (std::string line; std::getline(ini, line);)
    if (line.rfind("[" + name + "]", 0) == 0) return true;
  return false;
}

std::string MariaCs(const std::string& port, const std::string& database,
                    const std::string& user = "root", const std::string& pwd = "") {
  return "Provider=MSDASQL;Extended Properties=\"DRIVER={MariaDB Unicode};SERVER=127.0.0.1;PORT=" +
         port + ";UID=" + user + (pwd.empty() ? "" : ";PWD=" + pwd) +
         (database.empty() ? "" : ";DATABASE=" + database) + "\"";
}

class OdbcMariaDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (MysqlPort().empty())
      GTEST_SKIP() << "OSTREVANE_MYSQL_PORT is not set: no MariaDB test server";
    if (!DriverRegistered("MariaDB Unicode"))
      GTEST_SKIP() << "the MariaDB ODBC driver (odbc-mariadb) is not registered";
    db_ = "t_" + ToLowerAscii(GuidToText(NewGuid()));
    for (char& ch : db_)
      if (ch == '-') ch = '_';
    auto admin = Connect(MariaCs(MysqlPort(), ""));
    testing::ExecSql(*admin, "CREATE DATABASE " + db_);
  }
  void TearDown() override {
    if (db_.empty()) return;
    try {
      auto admin = Connect(MariaCs(MysqlPort(), ""));
      testing::ExecSql(*admin, "DROP DATABASE IF EXISTS " + db_);
    } catch (...) {
    }
  }

  static std::unique_ptr<Connection> Connect(const std::string& cs, int timeout = 10) {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs);
    c->set_connection_timeout(timeout);
    c->Open();
    return c;
  }

  std::string db_;
};

TEST_F(OdbcMariaDbTest, UnsignedIntegersKeepTheirValues) {
  auto c = Connect(MariaCs(MysqlPort(), db_));
  testing::ExecSql(*c,
                   "CREATE TABLE u (k int, b bigint unsigned, i int unsigned, s smallint unsigned, "
                   "t tinyint unsigned, sb bigint)");
  testing::ExecSql(*c,
                   "INSERT INTO u VALUES (1, 18446744073709551615, 4294967295, 65535, 255, "
                   "-9223372036854775808), (2, 9223372036854775808, 0, 0, 0, 1), "
                   "(3, NULL, NULL, NULL, NULL, NULL), (4, 0, 1, 2, 3, 4)");
  Query q(*c);
  q.SetSql("SELECT b, i, s, t, sb FROM u ORDER BY k");
  q.Open();
  struct {
    const char* name;
    FieldType type;
  } fields[] = {{"b", FieldType::kFMTBcd},
                {"i", FieldType::kLongWord},
                {"s", FieldType::kWord},
                {"t", FieldType::kWord},
                {"sb", FieldType::kLargeint}};
  ASSERT_EQ(q.FieldCount(), std::size(fields));
  for (size_t k = 0; k < std::size(fields); ++k)
    EXPECT_EQ(std::string(FieldTypeName(q.FieldAt(k).type())), FieldTypeName(fields[k].type))
        << fields[k].name;
  auto v = [&](const char* n) { return q.FindField(n)->value(); };
  EXPECT_EQ(v("b").kind, ValueKind::kDecimal);
  EXPECT_EQ(v("b").s, "18446744073709551615");
  EXPECT_EQ(v("i").i, 4294967295);
  EXPECT_EQ(v("s").i, 65535);
  EXPECT_EQ(v("t").i, 255);
  EXPECT_EQ(v("sb").i, INT64_MIN);
  q.Next();
  EXPECT_EQ(v("b").s, "9223372036854775808");
  q.Next();
  EXPECT_TRUE(v("b").IsNull());
  EXPECT_TRUE(v("i").IsNull());
  q.Next();
  EXPECT_EQ(v("b").s, "0");
}

// BIT(n) columns are numbers, as the native backend makes them; dates
// and date-times with a zero month or day (sql_mode '') fail the job
// naming the column instead of turning into another day.
TEST_F(OdbcMariaDbTest, BitsAreNumbersAndIncompleteDatesFail) {
  auto c = Connect(MariaCs(MysqlPort(), db_));
  testing::ExecSql(*c, "CREATE TABLE b (k int, b1 bit(1), b8 bit(8), b64 bit(64))");
  testing::ExecSql(*c,
                   "INSERT INTO b VALUES (1, 1, 255, 9223372036854775807), (2, 0, 5, 0), "
                   "(3, NULL, NULL, NULL), (4, 0, 0, 18446744073709551615)");
  Query q(*c);
  q.SetSql("SELECT b1, b8, b64 FROM b WHERE k < 4 ORDER BY k");
  q.Open();
  EXPECT_EQ(std::string(FieldTypeName(q.FieldAt(0).type())), FieldTypeName(FieldType::kBoolean));
  EXPECT_EQ(std::string(FieldTypeName(q.FieldAt(1).type())), FieldTypeName(FieldType::kLargeint));
  EXPECT_EQ(std::string(FieldTypeName(q.FieldAt(2).type())), FieldTypeName(FieldType::kLargeint));
  struct {
    bool b1;
    int64_t b8, b64;
  } expected[] = {{true, 255, INT64_MAX}, {false, 5, 0}};
  for (const auto& e : expected) {
    EXPECT_EQ(q.FieldAt(0).value().i, e.b1 ? 1 : 0);
    EXPECT_EQ(q.FieldAt(1).value().kind, ValueKind::kInt64);
    EXPECT_EQ(q.FieldAt(1).value().i, e.b8);
    EXPECT_EQ(q.FieldAt(2).value().i, e.b64);
    q.Next();
  }
  for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(q.FieldAt(k).IsNull()) << k;
  std::string m = testing::DatabaseErrorOf([&] { testing::QueryRows(*c, "SELECT b64 FROM b"); });
  EXPECT_NE(m.find("Column \"b64\" holds the number 18446744073709551615"), std::string::npos) << m;

  testing::ExecSql(*c, "SET SESSION sql_mode = ''");
  testing::ExecSql(*c, "CREATE TABLE d (k int, d date, dt datetime)");
  testing::ExecSql(*c,
                   "INSERT INTO d VALUES (1, '2024-03-10', '2024-03-10 01:02:03'), "
                   "(2, '2024-03-00', '2024-03-10 00:00:00'), "
                   "(3, '2024-03-10', '2024-00-10 00:00:00'), (4, '0000-00-00', NULL)");
  struct {
    int k;
    const char* message;
  } cases[] = {
      {2, "Column \"d\" holds the date \"2024-03-00\", which is no day of the calendar"},
      {3, "Column \"dt\" holds the date \"2024-00-10\", which is no day of the calendar"},
  };
  for (const auto& row : cases) {
    m = testing::DatabaseErrorOf([&] {
      testing::QueryRows(*c, "SELECT d, dt FROM d WHERE k IN (1, " + std::to_string(row.k) + ")");
    });
    EXPECT_NE(m.find(row.message), std::string::npos) << row.k << ": " << m;
  }
  // The driver itself delivers the zero date as NULL.
  EXPECT_TRUE(testing::QueryRows(*c, "SELECT d FROM d WHERE k = 4")[0][0].IsNull());
}

// MySQL's quoting decides what is a placeholder, and the macro lines, code
// to MySQL, reach it as comments.
TEST_F(OdbcMariaDbTest, PlaceholdersAndMacroLinesAsTheServerReadsThem) {
  auto c = Connect(MariaCs(MysqlPort(), db_));
  EXPECT_EQ(c->dialect(), SqlDialect::kMysql);
  Query q(*c);
  q.SetSql("--param x;t;1\nSELECT 'it\\'s :no' AS s, :x AS x # :no");
  ASSERT_EQ(q.params().size(), 1u);
  q.params()[0].value.SetText("y");
  q.Open();
  EXPECT_EQ(q.FieldAt(0).value().s, "it's :no");
  EXPECT_EQ(q.FieldAt(1).value().s, "y");
}

TEST_F(OdbcMariaDbTest, FractionalSecondsAreCutToMilliseconds) {
  auto c = Connect(MariaCs(MysqlPort(), db_));
  testing::ExecSql(*c, "CREATE TABLE d (k int, ts datetime(6))");
  testing::ExecSql(*c,
                   "INSERT INTO d VALUES (1, '2024-12-31 23:59:59.999999'), "
                   "(2, '2024-02-29 12:00:00.123987'), (3, '2024-01-01 00:00:00.000500')");
  auto rows = testing::QueryRows(*c, "SELECT ts FROM d ORDER BY k");
  ASSERT_EQ(rows.size(), 3u);
  struct {
    int year, month, day, hour, minute, second, ms;
  } expected[] = {
      {2024, 12, 31, 23, 59, 59, 999}, {2024, 2, 29, 12, 0, 0, 123}, {2024, 1, 1, 0, 0, 0, 0}};
  for (size_t k = 0; k < rows.size(); ++k) {
    const DateTimeParts p = DecodeDateTime(rows[k][0].d);
    const auto& e = expected[k];
    EXPECT_EQ((std::vector<int>{p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond}),
              (std::vector<int>{e.year, e.month, e.day, e.hour, e.minute, e.second, e.ms}))
        << "row " << k;
  }
}

TEST_F(OdbcMariaDbTest, BracedPasswordReachesTheDriverWhole) {
  auto admin = Connect(MariaCs(MysqlPort(), db_));
  const std::string user = "u" + db_.substr(2, 12);
  // The password holds ";", "!" and "}" ("}}" in braces).
  testing::ExecSql(*admin, "CREATE USER '" + user + "'@'127.0.0.1' IDENTIFIED BY 'Pw!x9;q}z'");
  testing::ExecSql(*admin, "GRANT ALL ON " + db_ + ".* TO '" + user + "'@'127.0.0.1'");
  for (const std::string& cs :
       {MariaCs(MysqlPort(), db_, user, "{Pw!x9;q}}z}"),
        "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + MysqlPort() +
            ";User ID=" + user + ";Password={Pw!x9;q}}z};Initial Catalog=" + db_,
        "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + MysqlPort() +
            ";User ID=" + user + ";Password=\"Pw!x9;q}z\";Initial Catalog=" + db_}) {
    std::unique_ptr<Connection> c;
    EXPECT_NO_THROW(c = Connect(cs)) << MaskSecrets(cs);
    if (c) {
      EXPECT_EQ(testing::QueryRows(*c, "SELECT 1")[0][0].i, 1);
    }
  }
  const std::string m =
      testing::DatabaseErrorOf([&] { Connect(MariaCs(MysqlPort(), db_, user, "{Wrong;Secret}")); });
  EXPECT_NE(m.find("Access denied"), std::string::npos) << m;
  EXPECT_EQ(m.find("Wrong"), std::string::npos) << m;
  testing::ExecSql(*admin, "DROP USER '" + user + "'@'127.0.0.1'");
}

TEST_F(OdbcMariaDbTest, CommandTimeOutCancelsTheStatement) {
  auto c = Connect(MariaCs(MysqlPort(), db_));
  for (bool want_rows : {true, false}) {
    Query slow(*c);
    slow.set_command_timeout(2);
    slow.SetSql("SELECT SLEEP(15)");
    const auto start = Clock::now();
    const std::string m = testing::DatabaseErrorOf([&] {
      if (want_rows)
        slow.Open();
      else
        slow.Execute();
    });
    EXPECT_NE(m.find("The command time-out of 2 s expired"), std::string::npos) << m;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    // The connection stays usable.
    EXPECT_EQ(testing::QueryRows(*c, "SELECT 7")[0][0].i, 7);
  }
  // A statement within its time is not disturbed.
  Query quick(*c);
  quick.set_command_timeout(5);
  quick.SetSql("SELECT SLEEP(1) AS s");
  quick.Open();
  EXPECT_EQ(quick.FindField("s")->value().i, 0);
}

// A statement that neither the driver nor the program can cancel (both
// need a second connection, and the account may have only one) runs on,
// and the job must not say that it was canceled.
TEST_F(OdbcMariaDbTest, CommandTimeOutSaysWhenTheCancelFailed) {
  auto admin = Connect(MariaCs(MysqlPort(), db_));
  const std::string user = db_ + "_one";
  testing::ExecSql(*admin, "CREATE USER '" + user +
                               "'@'127.0.0.1' IDENTIFIED BY 'pw' "
                               "WITH MAX_USER_CONNECTIONS 1");
  testing::ExecSql(*admin, "GRANT ALL ON " + db_ + ".* TO '" + user + "'@'127.0.0.1'");
  auto c = Connect(MariaCs(MysqlPort(), db_, user, "pw"));
  Query slow(*c);
  slow.set_command_timeout(1);
  slow.SetSql("SELECT SLEEP(4)");
  const std::string m = testing::DatabaseErrorOf([&] { slow.Open(); });
  EXPECT_NE(m.find("The command time-out of 1 s expired; the statement could not be "
                   "canceled and ran on until it ended after 4 s"),
            std::string::npos)
      << m;
  EXPECT_EQ(m.find("was canceled"), std::string::npos) << m;
  c.reset();
  testing::ExecSql(*admin, "DROP USER '" + user + "'@'127.0.0.1'");
}

// Over TLS the driver's own cancel fails (its second connection lacks the
// TLS options); the program then stops the statement from a connection of
// its own that has them, against a server that takes TLS only.
TEST_F(OdbcMariaDbTest, CommandTimeOutHoldsOverTls) {
  testing::TempDir dir;
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  testing::ServerProcess server(
      "mariadb_tls.py", {"--cert", cert.cert, "--key", cert.key, "--ca", cert.cert});
  auto c = Connect("Provider=MSDASQL;Extended Properties=\"DRIVER={MariaDB Unicode};"
                   "SERVER=127.0.0.1;PORT=" + std::to_string(server.port()) +
                   ";UID=root;FORCETLS=1\"");
  EXPECT_NE(testing::QueryRows(*c, "SHOW SESSION STATUS LIKE 'Ssl_cipher'")[0][1].s, "");
  Query slow(*c);
  slow.set_command_timeout(1);
  slow.SetSql("SELECT SLEEP(8)");
  const auto start = Clock::now();
  const std::string m = testing::DatabaseErrorOf([&] { slow.Open(); });
  EXPECT_NE(m.find("The command time-out of 1 s expired and the statement was canceled"),
            std::string::npos) << m;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(6)) << m;
  EXPECT_EQ(testing::QueryRows(*c, "SELECT 7")[0][0].i, 7);
}

// A server that accepts connections and never says a word.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      ADD_FAILURE() << "no listener";
    port_ = ntohs(a.sin_port);
  }
  ~SilentListener() {
    if (fd_ >= 0) close(fd_);
  }
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(OdbcMariaDbTest, ConnectionTimeOutHoldsAgainstASilentServer) {
  SilentListener silent;  // the kernel completes the handshake; nothing answers
  const auto start = Clock::now();
  const std::string m =
      testing::DatabaseErrorOf([&] { Connect(MariaCs(silent.port(), "", "root", "Secret-5"), 2); });
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(8)) << m;
  EXPECT_EQ(m.find("Secret-5"), std::string::npos) << m;
}

}  // namespace
}  // namespace ostrevane
