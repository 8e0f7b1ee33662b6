// Runs against the test server of scripts/mariadb_server.sh
// (OSTREVANE_MYSQL_PORT); every test makes its own database.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/connection_string.h"
#include "data/dataset.h"
#include "data/db/mysql_statements.h"
#include "testing/database.h"
#include "testing/mysql_server.h"

namespace ostrevane {
namespace {

using testing::DatabaseErrorOf;
using testing::ExecSql;
using testing::MysqlAdmin;
using testing::QueryRows;

TEST(MysqlStatementsTest, SplitsAtSemicolonsOutsideQuotesCommentsAndBodies) {
  struct {
    const char* sql;
    std::vector<std::string> statements;
    std::vector<size_t> params;
  } cases[] = {
      {"SELECT 1; SELECT ?", {"SELECT 1", " SELECT ?"}, {0, 1}},
      {"SELECT ';?', \"a;\\\"?\", `x;?` FROM t WHERE a=?", {"SELECT ';?', \"a;\\\"?\", `x;?` FROM t WHERE a=?"}, {1}},
      {"SELECT 1 -- ; ?\n, 2 # ; ?\n; /* ; ? */ SELECT 3", {"SELECT 1 -- ; ?\n, 2 # ; ?\n", " /* ; ? */ SELECT 3"}, {0, 0}},
      {"SELECT 5--1;SELECT ?", {"SELECT 5--1", "SELECT ?"}, {0, 1}},  // "--" without a blank
      {" ; -- only\n ;", {}, {}},
      {"CREATE PROCEDURE p() BEGIN IF 1 THEN SELECT 1; END IF; CASE WHEN 1 THEN SELECT 2; END CASE; "
       "WHILE 0 DO SELECT 3; END WHILE; END; CALL p()",
       {"CREATE PROCEDURE p() BEGIN IF 1 THEN SELECT 1; END IF; CASE WHEN 1 THEN SELECT 2; END CASE; "
        "WHILE 0 DO SELECT 3; END WHILE; END",
        " CALL p()"},
       {0, 0}},
      {"BEGIN; UPDATE t SET a=?; COMMIT", {"BEGIN", " UPDATE t SET a=?", " COMMIT"}, {0, 1, 0}},
  };
  for (const auto& row : cases) {
    const std::string sql = row.sql;
    std::vector<std::string> got;
    std::vector<size_t> params;
    for (const MysqlStatement& st : SplitMysqlStatements(sql)) {
      got.push_back(sql.substr(st.begin, st.end - st.begin));
      params.push_back(st.param_count);
    }
    EXPECT_EQ(got, row.statements) << row.sql;
    EXPECT_EQ(params, row.params) << row.sql;
  }
}

// A listener that takes the connection and never says a word must not hold
// the job beyond the connection time-out.
TEST(MysqlConnectTest, ASilentServerFailsWithinTheConnectionTimeout) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  Connection c;
  c.set_connection_string("Provider=MySQL;Data Source=127.0.0.1:" +
                          std::to_string(ntohs(addr.sin_port)) + ";User ID=root");
  c.set_connection_timeout(2);
  const auto start = std::chrono::steady_clock::now();
  const std::string message = DatabaseErrorOf([&] { c.Open(); });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  EXPECT_NE(message.find("server"), std::string::npos) << message;
  EXPECT_LT(seconds, 8) << message;
}

class MysqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = testing::FreshMysqlDatabase();
    if (cs_.empty())
      GTEST_SKIP() << "OSTREVANE_MYSQL_PORT is not set: no MariaDB test server "
                      "(source scripts/mariadb_server.sh && mariadb_server_start)";
    db_ = ConnectionString(cs_).Get("Initial Catalog");
  }

  std::unique_ptr<Connection> Connect(const std::string& cs = "") {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs.empty() ? cs_ : cs);
    c->set_connection_timeout(5);
    c->Open();
    return c;
  }

  void Admin(const std::string& sql) { MysqlAdmin(sql, db_); }

  int64_t Count(const std::string& table) {
    auto c = Connect();
    return QueryRows(*c, "SELECT count(*) FROM " + table)[0][0].i;
  }

  std::string cs_, db_;
};

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, double s = 0) {
  return EncodeDateTime(y, mo, d, h, mi, 0) + s / 86400;
}

// Every column type once, read through the text protocol (no parameters)
// and through a prepared statement (one parameter): both must agree.
TEST_F(MysqlTest, ColumnTypesAndValues) {
  Admin(
      "CREATE TABLE t (k INT PRIMARY KEY, ti TINYINT, tu TINYINT UNSIGNED, b1 TINYINT(1), "
      "si SMALLINT, su SMALLINT UNSIGNED, mi MEDIUMINT, i INT, iu INT UNSIGNED, bi BIGINT, "
      "bu BIGINT UNSIGNED, d DOUBLE, n9 DECIMAL(9,0), n10 DECIMAL(10,2), "
      "n19 DECIMAL(19,4), n38 DECIMAL(38,10), bit1 BIT(1), bit9 BIT(9), y YEAR, dt DATE, "
      "tm TIME(3), dtm DATETIME(6), ts TIMESTAMP(6) NULL, ch CHAR(5), vc VARCHAR(10), "
      "tx TEXT, bn BINARY(3), vb VARBINARY(4), bl BLOB, js JSON, en ENUM('red','green'), "
      "st SET('a','b'), l1 VARCHAR(10) CHARACTER SET latin1);"
      "INSERT INTO t VALUES (1, -128, 255, 1, -32768, 65535, -8388608, -2147483648, 4294967295, "
      "-9223372036854775808, 18446744073709551615, 0.1, 123456789, -12345678.91, "
      "123456789012345.6789, 1234567890123456789012345678.9012345678, b'1', b'100000001', 2024, "
      "'2015-10-08', '14:03:05.678', '2024-12-31 23:59:59.999999', '2015-10-08 14:03:05.5', "
      "'ab', 'xyz', 'long text', 'a\\0b', x'00ff', x'0102', '{\"a\": 1}', 'green', 'a,b', "
      "X'636166E9');"
      "INSERT INTO t (k, bu, tx, bl, b1) VALUES (2, 9223372036854775808, NULL, '', 0)");
  struct {
    const char* name;
    FieldType type;
    int64_t size;
  } fields[] = {
      {"k", FieldType::kInteger, 0},     {"ti", FieldType::kSmallint, 0},
      {"tu", FieldType::kWord, 0},       {"b1", FieldType::kBoolean, 0},
      {"si", FieldType::kSmallint, 0},   {"su", FieldType::kWord, 0},
      {"mi", FieldType::kInteger, 0},    {"i", FieldType::kInteger, 0},
      {"iu", FieldType::kLongWord, 0},   {"bi", FieldType::kLargeint, 0},
      {"bu", FieldType::kFMTBcd, 0},     {"d", FieldType::kFloat, 0},
      {"n9", FieldType::kInteger, 0},
      {"n10", FieldType::kBCD, 2},       {"n19", FieldType::kBCD, 4},
      {"n38", FieldType::kFMTBcd, 10},   {"bit1", FieldType::kBoolean, 0},
      {"bit9", FieldType::kLargeint, 0}, {"y", FieldType::kSmallint, 0},
      {"dt", FieldType::kDate, 0},       {"tm", FieldType::kTime, 0},
      {"dtm", FieldType::kDateTime, 0},  {"ts", FieldType::kDateTime, 0},
      {"ch", FieldType::kFixedChar, 5},  {"vc", FieldType::kString, 10},
      {"tx", FieldType::kMemo, 0},       {"bn", FieldType::kBytes, 3},
      {"vb", FieldType::kVarBytes, 4},   {"bl", FieldType::kBlob, 0},
      {"js", FieldType::kMemo, 0},       {"en", FieldType::kString, 5},
      {"st", FieldType::kString, 3},     {"l1", FieldType::kString, 10},
  };
  auto c = Connect();
  for (const char* sql : {"SELECT * FROM t ORDER BY k", "SELECT * FROM t WHERE k > :zero ORDER BY k"}) {
    SCOPED_TRACE(sql);
    Query q(*c);
    q.SetSql(sql);
    if (q.params().size()) q.params()[0].value.SetText("0");
    q.Open();
    ASSERT_EQ(q.FieldCount(), std::size(fields));
    for (size_t i = 0; i < std::size(fields); ++i) {
      EXPECT_EQ(q.FieldAt(i).name(), fields[i].name);
      EXPECT_EQ(FieldTypeName(q.FieldAt(i).type()), std::string(FieldTypeName(fields[i].type)))
          << fields[i].name;
      EXPECT_EQ(q.FieldAt(i).size(), fields[i].size) << fields[i].name;
    }
    auto v = [&](const char* name) { return q.FindField(name)->value(); };
    EXPECT_EQ(v("ti").i, -128);
    EXPECT_EQ(v("ti").kind, ValueKind::kInt16);
    EXPECT_EQ(v("tu").i, 255);
    EXPECT_EQ(v("b1").kind, ValueKind::kBoolean);
    EXPECT_EQ(v("b1").i, 1);
    EXPECT_EQ(v("su").i, 65535);
    EXPECT_EQ(v("mi").i, -8388608);
    EXPECT_EQ(v("i").i, INT32_MIN);
    EXPECT_EQ(v("i").kind, ValueKind::kInt32);
    EXPECT_EQ(v("iu").i, 4294967295);
    EXPECT_EQ(v("bi").i, INT64_MIN);
    EXPECT_EQ(v("bi").kind, ValueKind::kInt64);
    EXPECT_EQ(v("bu").kind, ValueKind::kDecimal);
    EXPECT_EQ(v("bu").s, "18446744073709551615");
    EXPECT_EQ(v("d").d, 0.1);
    EXPECT_EQ(v("n9").kind, ValueKind::kInt32);
    EXPECT_EQ(v("n9").i, 123456789);
    EXPECT_EQ(v("n10").kind, ValueKind::kCurrency);
    EXPECT_EQ(v("n10").i, -123456789100);
    EXPECT_EQ(v("n19").i, 1234567890123456789);
    EXPECT_EQ(v("n38").s, "1234567890123456789012345678.9012345678");
    EXPECT_EQ(v("bit1").kind, ValueKind::kBoolean);
    EXPECT_EQ(v("bit1").i, 1);
    EXPECT_EQ(v("bit9").i, 257);
    EXPECT_EQ(v("y").i, 2024);
    EXPECT_EQ(v("dt").d, At(2015, 10, 8));
    EXPECT_NEAR(v("tm").d, (14 * 3600 + 3 * 60 + 5.678) / 86400, 1e-11);
    // Cut to the millisecond, never rounded into the next day.
    const DateTimeParts p = DecodeDateTime(v("dtm").d);
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.day, 31);
    EXPECT_EQ(p.second, 59);
    EXPECT_EQ(p.millisecond, 999);
    EXPECT_NEAR(v("ts").d, At(2015, 10, 8, 14, 3, 5.5), 1e-11);
    EXPECT_EQ(v("ch").s, "ab");
    EXPECT_EQ(v("tx").s, "long text");
    EXPECT_EQ(v("bn").kind, ValueKind::kBytes);
    EXPECT_EQ(v("bn").s, std::string("a\0b", 3));
    EXPECT_EQ(v("vb").s, std::string("\0\xff", 2));
    EXPECT_EQ(v("bl").s, "\x01\x02");
    EXPECT_EQ(v("js").s, "{\"a\": 1}");
    EXPECT_EQ(v("en").s, "green");
    EXPECT_EQ(v("st").s, "a,b");
    EXPECT_EQ(v("l1").s, "caf\xC3\xA9");  // latin1 arrives as UTF-8
    q.Next();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(v("bu").s, "9223372036854775808");
    EXPECT_EQ(v("tx").kind, ValueKind::kText);  // a null TEXT is empty text
    EXPECT_EQ(v("bl").kind, ValueKind::kNull);  // an empty BLOB is null
    EXPECT_EQ(v("b1").i, 0);
    EXPECT_TRUE(v("ti").IsNull());
    EXPECT_TRUE(v("dtm").IsNull());
  }
}

// FLOAT values are the single they are, with and without parameters: the
// text protocol's six digits would turn 16777216 into 16777200.
TEST_F(MysqlTest, FloatColumnsAreTheSingleTheyAre) {
  Admin("CREATE TABLE f (k INT PRIMARY KEY, f FLOAT, d DOUBLE, t VARCHAR(5));"
        "INSERT INTO f VALUES (1, 16777216, 16777216, 'a'), (2, 123456789, 0.1, 'b'), "
        "(3, 0.1, -1.5e-300, 'c'), (4, -3.4028234e38, 1, 'd'), (5, NULL, NULL, NULL)");
  const float expected[] = {16777216.0f, 123456789.0f, 0.1f, -3.4028234e38f};
  auto c = Connect();
  for (const char* sql : {"SELECT f, d, t FROM f ORDER BY k",
                          "SELECT f, d, t FROM f WHERE k > :zero ORDER BY k",
                          "SELECT 1; SELECT f, d, t FROM f ORDER BY k"}) {
    SCOPED_TRACE(sql);
    Query q(*c);
    q.SetSql(sql);
    if (q.params().size()) q.params()[0].value.SetText("0");
    q.Open();
    for (float f : expected) {
      ASSERT_FALSE(q.Eof());
      EXPECT_EQ(q.FieldAt(0).value().d, double(f));
      q.Next();
    }
    EXPECT_TRUE(q.FieldAt(0).IsNull());
    EXPECT_TRUE(q.FieldAt(2).IsNull());
  }
  auto rows = QueryRows(*c, "SELECT d, t, f * 2 AS g FROM f ORDER BY k");
  EXPECT_EQ(rows[0][0].d, 16777216.0);
  EXPECT_EQ(rows[2][0].d, -1.5e-300);
  EXPECT_EQ(rows[0][1].s, "a");
  EXPECT_EQ(rows[1][2].d, 2 * double(123456789.0f));
}

TEST_F(MysqlTest, ParametersAsTextAndTyped) {
  Admin("CREATE TABLE p (i INT, c DECIMAL(10,4), d DATE, dt DATETIME(3), b TINYINT(1), "
        "bl BLOB, tx TEXT, f DOUBLE, s VARCHAR(20))");
  auto c = Connect();
  c->BeginTransaction(TransactionAccess::kWrite);
  Query ins(*c);
  ins.SetSql("INSERT INTO p VALUES (:i, :c, :d, :dt, :b, :bl, :tx, :f, :s)");
  auto& ps = ins.params();
  ASSERT_EQ(ps.size(), 9u);
  ps[0].type = FieldType::kInteger, ps[0].value.SetInteger(-7, ValueKind::kInt32);
  ps[1].type = FieldType::kBCD, ps[1].value.SetCurrency(-1234567);  // -123.4567
  ps[2].type = FieldType::kDate, ps[2].value.SetDateTime(At(1999, 12, 31));
  ps[3].type = FieldType::kDateTime, ps[3].value.SetDateTime(At(2015, 10, 8, 14, 3, 5.678));
  ps[4].type = FieldType::kBoolean, ps[4].value.SetBoolean(true);
  ps[5].type = FieldType::kBlob, ps[5].value.SetText(std::string("\0\x01\xff", 3), ValueKind::kBytes);
  ps[6].type = FieldType::kMemo, ps[6].value.SetNull();
  ps[7].type = FieldType::kFloat, ps[7].value.SetDouble(0.1 + 0.2);
  ps[8].value.SetText("it's ?; -- \"x\"");  // untyped text
  ins.Execute();
  c->Commit();
  auto rows = QueryRows(*c, "SELECT * FROM p");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].i, -7);
  EXPECT_EQ(rows[0][1].i, -1234567);
  EXPECT_EQ(rows[0][2].d, At(1999, 12, 31));
  EXPECT_NEAR(rows[0][3].d, At(2015, 10, 8, 14, 3, 5.678), 1e-9);
  EXPECT_EQ(rows[0][4].i, 1);
  EXPECT_EQ(rows[0][5].s, std::string("\0\x01\xff", 3));
  EXPECT_EQ(rows[0][6].s, "");
  EXPECT_EQ(rows[0][7].d, 0.1 + 0.2);
  EXPECT_EQ(rows[0][8].s, "it's ?; -- \"x\"");

  // Several statements: each gets the values of its own placeholders, the
  // result comes from the last one.
  Query q(*c);
  q.SetSql("SET @a = :x; SELECT @a + :y AS s, :z AS z");
  for (Param& p : q.params().items()) p.value.SetText(p.name == "z" ? "zz" : "2");
  q.Open();
  EXPECT_EQ(q.FieldAt(0).value().d, 4);
  EXPECT_EQ(q.FindField("z")->value().s, "zz");

  // Prepared results longer than any value before them are read whole.
  Query longer(*c);
  longer.SetSql("SELECT REPEAT(CHAR(64 + n), 300 * n) AS r, n FROM (SELECT 1 n UNION ALL "
                "SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 1) x WHERE n > :zero");
  longer.params()[0].value.SetInteger(0);
  longer.Open();
  for (int64_t n : {1, 2, 3, 1}) {
    ASSERT_FALSE(longer.Eof());
    EXPECT_EQ(longer.FieldAt(0).value().s, std::string(size_t(300 * n), char(64 + n)));
    longer.Next();
  }
  EXPECT_TRUE(longer.Eof());
}

TEST_F(MysqlTest, ScriptsTransactionsAndStreaming) {
  auto c = Connect();
  c->BeginTransaction(TransactionAccess::kWrite);
  // A script with a stored-program body, a result set in the middle and
  // statements after it goes to the server in one piece.
  ExecSql(*c,
          "CREATE TABLE s (n INT PRIMARY KEY) ENGINE=InnoDB;"
          "CREATE PROCEDURE fill(k INT) BEGIN DECLARE i INT DEFAULT 0; "
          "WHILE i < k DO INSERT INTO s VALUES (i); SET i = i + 1; END WHILE; END;"
          "SELECT 1; CALL fill(3000); DELETE FROM s WHERE n >= 2500");
  c->Commit();
  EXPECT_EQ(Count("s"), 2500);

  // A failed job's changes are rolled back.
  c->BeginTransaction(TransactionAccess::kWrite);
  ExecSql(*c, "DELETE FROM s WHERE n < 100");
  c->Rollback();
  EXPECT_EQ(Count("s"), 2500);

  // A second statement while rows stream reads the rest into memory
  // first; the open cursor stays readable.
  c->BeginTransaction(TransactionAccess::kWrite);
  Query q(*c);
  q.SetSql("SELECT n FROM s ORDER BY n");
  q.Open();
  q.Next();
  EXPECT_EQ(q.FieldAt(0).value().i, 1);
  Query upd(*c);
  upd.SetSql("UPDATE s SET n = n + 10000 WHERE n = :n");
  upd.params()[0].value.SetInteger(0);
  upd.Execute();
  int64_t seen = 2;
  for (q.Next(); !q.Eof(); q.Next()) ++seen;
  EXPECT_EQ(seen, 2500);
  // A rollback in the middle of a stream stops it.
  Query big(*c);
  big.SetSql("SELECT a.n FROM s a, s b");
  big.Open();
  c->Rollback();
  EXPECT_EQ(Count("s WHERE n >= 10000"), 0);
  EXPECT_EQ(QueryRows(*c, "SELECT 5")[0][0].i, 5);  // the connection is usable
}

TEST_F(MysqlTest, ConnectionFailuresNameTheCauseButNoPassword) {
  Admin("CREATE USER IF NOT EXISTS 'u_" + db_ + "'@'127.0.0.1' IDENTIFIED BY 'Right-Pw9'");
  const std::string port = testing::MysqlPort();
  struct {
    std::string cs;
    const char* expected;
  } cases[] = {
      {"Provider=MySQL;Data Source=127.0.0.1:" + port + ";User ID=u_" + db_ +
           ";Password=Wr0ng;Pw!x9",
       "Access denied for user"},
      {"Provider=MariaDB;Data Source=127.0.0.1:" + port + ";Initial Catalog=nodb_" + db_ +
           ";User ID=root",
       "Unknown database"},
      {"Provider=MySQL;Data Source=127.0.0.1;Port=1;User ID=root;Password=Wr0ng;Pw!x9",
       "Can't connect"},
      {"Provider=MySQL;Data Source=127.0.0.1;Port=99999", "no port number"},
      {"Provider=MySQL;Data Source=127.0.0.1;SslMode=sometimes", "SslMode"},
  };
  for (const auto& row : cases) {
    Connection c;
    c.set_connection_string(row.cs);
    c.set_connection_timeout(5);
    const std::string message = DatabaseErrorOf([&] { c.Open(); });
    EXPECT_NE(message.find(row.expected), std::string::npos) << message;
    EXPECT_EQ(message.find("Wr0ng"), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
  // The socket path as Data Source.
  if (!testing::MysqlSocket().empty()) {
    auto c = Connect("Provider=MySQL;Data Source=" + testing::MysqlSocket() + ";User ID=root");
    EXPECT_EQ(QueryRows(*c, "SELECT 7")[0][0].i, 7);
  }
}

TEST_F(MysqlTest, ValuesNoFieldTypeHoldsFailNamingTheColumn) {
  Admin("SET SESSION sql_mode = ''; CREATE TABLE z (d DATE, dt DATETIME, tm TIME);"
        "INSERT INTO z VALUES ('0000-00-00', '2024-00-10 10:00:00', '-01:00:00'),"
        "  ('2024-01-01', '2024-01-01 00:00:00', '838:59:59')");
  auto c = Connect();
  struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT d FROM z ORDER BY d", "Column \"d\" holds the zero or incomplete date \"0000-00-00\""},
      {"SELECT dt FROM z ORDER BY dt", "Column \"dt\" holds the zero or incomplete date"},
      {"SELECT tm FROM z WHERE tm < 0", "Column \"tm\" holds the time outside 00:00-23:59 \"-01:00:00\""},
      {"SELECT tm FROM z WHERE tm > 0", "\"838:59:59\""},
  };
  for (const auto& row : cases) {
    const std::string message = DatabaseErrorOf([&] { QueryRows(*c, row.sql); });
    EXPECT_NE(message.find(row.expected), std::string::npos) << row.sql << ": " << message;
  }
  // NULLIF turns them into NULL, as the manual advises.
  EXPECT_TRUE(QueryRows(*c, "SELECT NULLIF(d, 0) FROM z ORDER BY d")[0][0].IsNull());
}

TEST_F(MysqlTest, CommandTimeoutCancelsTheWaitButNotTheReading) {
  auto c = Connect();
  for (const char* sql : {"SELECT SLEEP(20)", "SELECT SLEEP(20) FROM DUAL WHERE 1 = :one",
                          "DO SLEEP(20)"}) {
    Query q(*c);
    q.set_command_timeout(1);
    q.SetSql(sql);
    if (q.params().size()) q.params()[0].value.SetInteger(1);
    const auto start = std::chrono::steady_clock::now();
    const std::string message = DatabaseErrorOf([&] {
      if (std::string(sql).rfind("DO", 0) == 0)
        q.Execute();
      else
        q.Open();
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(message, "The command time-out of 1 s expired and the statement was canceled")
        << sql;
    EXPECT_LT(seconds, 10) << sql;
  }
  EXPECT_EQ(QueryRows(*c, "SELECT 3")[0][0].i, 3);
}

}  // namespace
}  // namespace ostrevane
