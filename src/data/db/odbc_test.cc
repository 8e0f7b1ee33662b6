// The ODBC backend against the SQLite ODBC driver (always) and the
// PostgreSQL ODBC driver on the test cluster (when OSTREVANE_PG_PORT is set).
// Drivers are named by their odbcinst.ini names "SQLite3" and
// "PostgreSQL Unicode" (registered by the Debian packages); when a name is
// not registered, the driver's library path is used instead.
#include <gtest/gtest.h>

#include <chrono>

#include "common/datetime.h"
#include "common/error.h"
#include "data/dataset.h"
#include "data/db/odbc_connect_text.h"
#include "testing/database.h"
#include "testing/odbc_drivers.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

TEST(OdbcConnectTextTest, KeysAndStreamingOptions) {
  using V = std::vector<std::string>;
  struct {
    const char* cs;
    V drivers;
    const char* text;
    OdbcTransaction transaction = OdbcTransaction::kManualCommit;
  } cases[] = {
      {"Provider=MSDASQL.1;Persist Security Info=False;Data Source=sales;User ID=u;Password=p;"
       "Initial Catalog=db",
       {},
       "DSN=sales;UID=u;PWD=p;DATABASE=db;"},
      {"Provider=ODBC;Driver=SQLite3;Database=\"a;b {c}.db\"",
       {"SQLite3", "libsqlite3odbc.so"},
       "Driver=SQLite3;Database={a;b {c}}.db};StepAPI=1;",
       OdbcTransaction::kSqlStatements},
      {"Provider=ODBC;Driver=SQLite3;Database=x.db;stepapi=0",
       {"SQLite3"},
       "Driver=SQLite3;Database=x.db;stepapi=0;",
       OdbcTransaction::kSqlStatements},
      {"Provider=ODBC;Driver={PostgreSQL Unicode};Server=h;PWD=s3",
       {"PostgreSQL Unicode", "psqlodbcw.so"},
       "Driver={PostgreSQL Unicode};Server=h;PWD=s3;UseDeclareFetch=1;Fetch=1000;"
       "KeepaliveTime=60;KeepaliveInterval=10;"},
      {"Provider=MSDASQL;Extended Properties=\"DSN=pg;UID=u;PWD=x1;UseDeclareFetch=0;fetch=5;"
       "keepalivetime=5\"",
       {"psqlodbca.so"},
       "DSN=pg;UID=u;PWD=x1;UseDeclareFetch=0;fetch=5;keepalivetime=5;KeepaliveInterval=10;"},
      {"Provider=ODBC;Driver=Other;Opt=1", {"Other", "libother.so"}, "Driver=Other;Opt=1;"},
      // Braced values pass whole; values that need braces get them.
      {"Provider=MSDASQL;Driver={MariaDB Unicode};PWD={Pw!x9;q}}z};User ID= u ",
       {"MariaDB Unicode"},
       "Driver={MariaDB Unicode};PWD={Pw!x9;q}}z};UID=u;"},
      {"Provider=MSDASQL;Driver=x;Password=\"a}b\";Initial Catalog=\" db\";Opt='{c'",
       {},
       "Driver=x;PWD={a}}b};DATABASE={ db};Opt={{c};"},
      {"Provider=MSDASQL;Extended Properties=\"DRIVER={MariaDB Unicode};PWD={a;b}\"",
       {"MariaDB Unicode"},
       "DRIVER={MariaDB Unicode};PWD={a;b};"},
  };
  for (const auto& row : cases) {
    OdbcConnectText t = MakeOdbcConnectText(ConnectionString(row.cs), row.drivers);
    EXPECT_EQ(t.text, row.text) << row.cs;
    EXPECT_EQ(t.transaction, row.transaction) << row.cs;
  }
}

class OdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite_driver_ = testing::OdbcDriver("SQLite3", "libsqlite3odbc.so");
    pg_driver_ = testing::OdbcDriver("PostgreSQL Unicode", "psqlodbcw.so");
    if (sqlite_driver_.empty())
      GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  }

  std::unique_ptr<Connection> Connect(const std::string& cs) {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs);
    c->set_connection_timeout(5);
    c->Open();
    return c;
  }
  std::string SqliteCs() {
    return "Provider=ODBC;Driver=" + sqlite_driver_ + ";Database=" + dir_ / "t.db";
  }

  // A fresh database on the test cluster through the PostgreSQL driver.
  std::string PgCs(const std::string& user = "postgres", const std::string& password = "") {
    if (pg_db_.empty()) {
      const std::string cs = testing::FreshPgDatabase();
      pg_db_ = cs.substr(cs.find("Catalog=") + 8);
      pg_db_ = pg_db_.substr(0, pg_db_.find(';'));
    }
    return "Provider=MSDASQL;Driver=" + pg_driver_ +
           ";Servername=127.0.0.1;Port=" + testing::PgPort() + ";Database=" + pg_db_ +
           ";UID=" + user + (password.empty() ? "" : ";PWD=" + password) + "";
  }

  testing::TempDir dir_;
  std::string sqlite_driver_, pg_driver_;
  std::string pg_db_;
};

struct FieldCase {
  const char* name;
  FieldType type;
};

void ExpectFields(Query& q, const std::vector<FieldCase>& cases) {
  ASSERT_EQ(q.FieldCount(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(q.FieldAt(i).name(), cases[i].name);
    EXPECT_EQ(std::string(FieldTypeName(q.FieldAt(i).type())), FieldTypeName(cases[i].type))
        << cases[i].name;
  }
}

TEST_F(OdbcTest, SqliteDriverTypesValuesAndLongData) {
  auto c = Connect(SqliteCs());
  testing::ExecSql(
      *c,
      "CREATE TABLE t (i integer, s smallint, b bigint, f double, r real, ok bit, d date, tm time, "
      "ts timestamp, ch char(5), vc varchar(10), tx text, bl blob)");
  testing::ExecSql(
      *c,
      "INSERT INTO t VALUES (7, -3, 9000000000, 0.1, 2.5, 1, '2015-10-08', '14:03:05', "
      "'2015-10-08 14:03:05.678', 'ab', 'Grüße', 'memo', x'00ff41')");
  testing::ExecSql(*c, "INSERT INTO t (i) VALUES (8)");
  Query q(*c);
  q.SetSql("SELECT * FROM t ORDER BY i");
  q.Open();
  ExpectFields(q, {{"i", FieldType::kInteger},
                   {"s", FieldType::kSmallint},
                   {"b", FieldType::kLargeint},
                   {"f", FieldType::kFloat},
                   {"r", FieldType::kFloat},
                   {"ok", FieldType::kBoolean},
                   {"d", FieldType::kDate},
                   {"tm", FieldType::kTime},
                   {"ts", FieldType::kDateTime},
                   {"ch", FieldType::kString},
                   {"vc", FieldType::kString},
                   {"tx", FieldType::kMemo},
                   {"bl", FieldType::kBytes}});
  auto v = [&](const char* n) { return q.FindField(n)->value(); };
  EXPECT_EQ(v("i").kind, ValueKind::kInt32);
  EXPECT_EQ(v("s").kind, ValueKind::kInt16);
  EXPECT_EQ(v("s").i, -3);
  EXPECT_EQ(v("b").i, 9000000000);
  EXPECT_EQ(v("f").d, 0.1);
  EXPECT_EQ(v("r").d, 2.5);
  EXPECT_EQ(v("ok").kind, ValueKind::kBoolean);
  EXPECT_EQ(v("d").d, EncodeDateTime(2015, 10, 8));
  EXPECT_NEAR(v("tm").d, (14 * 3600 + 3 * 60 + 5) / 86400.0, 1e-11);
  EXPECT_NEAR(v("ts").d, EncodeDateTime(2015, 10, 8, 14, 3, 5, 678), 1e-9);
  EXPECT_EQ(v("vc").s, "Grüße");  // UTF-8 survives the ANSI driver under any locale
  EXPECT_EQ(v("bl").kind, ValueKind::kBytes);
  EXPECT_EQ(v("bl").s, std::string("\0\xff"
                                   "A",
                                   3));
  EXPECT_EQ(testing::QueryRows(*c, "SELECT count(*) FROM t")[0][0].i,
            2);  // another statement mid-result
  q.Next();
  EXPECT_TRUE(v("vc").IsNull());
  EXPECT_EQ(v("tx").kind, ValueKind::kText);  // a null long text arrives as empty text
  EXPECT_TRUE(v("bl").IsNull());
  q.Close();

  // Long values are read in chunks, through parameters and back.
  std::string text;
  for (int k = 0; k < 30000; ++k) text += "äb";
  std::string bytes;
  for (int k = 0; k < 70000; ++k) bytes += char(k * 7);
  Query ins(*c);
  ins.SetSql("INSERT INTO t (i, tx, bl) VALUES (9, :tx, :bl)");
  ins.params()[0].value.SetText(text);
  ins.params()[1].value.SetText(bytes, ValueKind::kBytes);
  ins.Execute();
  auto rows = testing::QueryRows(*c, "SELECT tx, bl FROM t WHERE i = 9");
  EXPECT_EQ(rows[0][0].s, text);
  EXPECT_EQ(rows[0][1].s, bytes);
}

TEST_F(OdbcTest, SqliteDriverParametersAndTransactions) {
  auto c = Connect(SqliteCs());
  testing::ExecSql(*c, "CREATE TABLE p (i integer, f double, ts timestamp, ok bit, s varchar(20))");
  Query ins(*c);
  ins.SetSql("INSERT INTO p VALUES (:i, :f, :ts, :ok, :s)");
  auto& ps = ins.params();
  ps[0].value.SetText("42"), ps[1].value.SetText("0.5"), ps[2].value.SetText("2015-10-08 14:03:05");
  ps[3].value.SetText("1"), ps[4].value.SetText("Grüße");
  ins.Execute();
  // Post-record binding: typed values of their own kinds.
  ps[0].type = FieldType::kInteger, ps[0].value.SetInteger(-7, ValueKind::kInt32);
  // (This driver carries doubles with 15 significant digits.)
  ps[1].type = FieldType::kFloat, ps[1].value.SetDouble(1234.5678);
  ps[2].type = FieldType::kDateTime,
  ps[2].value.SetDateTime(EncodeDateTime(2000, 2, 29, 23, 59, 58, 250));
  ps[3].type = FieldType::kBoolean, ps[3].value.SetBoolean(false);
  ps[4].type = FieldType::kString, ps[4].value.SetNull();
  ins.Execute();

  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO p (i) VALUES (100)");
  c->Rollback();
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO p (i) VALUES (101)");
  c->Commit();
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO p (i) VALUES (102)");
  c->Close();  // closing rolls back
  c = Connect(SqliteCs());

  auto rows = testing::QueryRows(*c, "SELECT i, f, ts, ok, s FROM p ORDER BY i");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].i, -7);
  EXPECT_EQ(rows[0][1].d, 1234.5678);
  EXPECT_NEAR(rows[0][2].d, EncodeDateTime(2000, 2, 29, 23, 59, 58, 250), 1e-9);
  EXPECT_EQ(rows[0][3].i, 0);
  EXPECT_TRUE(rows[0][4].IsNull());
  EXPECT_EQ(rows[1][0].i, 42);
  EXPECT_EQ(rows[1][1].d, 0.5);
  EXPECT_EQ(rows[1][2].d, EncodeDateTime(2015, 10, 8, 14, 3, 5));
  EXPECT_EQ(rows[1][4].s, "Grüße");
  EXPECT_EQ(rows[2][0].i, 101);
}

// Placeholders are found with the quoting rules of the database behind the
// driver, which it names.
TEST_F(OdbcTest, PlaceholdersAsTheDatabaseBehindTheDriverReadsThem) {
  auto c = Connect(SqliteCs());
  EXPECT_EQ(c->dialect(), SqlDialect::kSqlite);
  Query q(*c);
  q.SetSql("SELECT [a:b], :x AS x FROM (SELECT 1 AS [a:b]) -- :no");
  ASSERT_EQ(q.params().size(), 1u);
  q.params()[0].value.SetText("y");
  q.Open();
  EXPECT_EQ(q.FieldAt(1).value().s, "y");
  if (testing::PgPort().empty() || pg_driver_.empty()) return;
  EXPECT_EQ(Connect(PgCs())->dialect(), SqlDialect::kPostgres);
}

TEST_F(OdbcTest, ErrorsCarryTheDiagnosticsWithoutPasswords) {
  struct {
    std::string cs;
    const char* message;
  } cases[] = {
      {"Provider=ODBC;Data Source=no_such_dsn;PWD=Secret-99", "Data source name not found"},
      {"Provider=ODBC;Driver=No Such Driver;Database=x;PWD=Secret-99",
       "Can't open lib 'No Such Driver'"},
  };
  for (const auto& row : cases) {
    std::string m = testing::DatabaseErrorOf([&] { Connect(row.cs); });
    EXPECT_NE(m.find(row.message), std::string::npos) << m;
    EXPECT_EQ(m.find("Secret-99"), std::string::npos) << m;
  }
  auto c = Connect(SqliteCs());
  EXPECT_NE(testing::DatabaseErrorOf([&] {
              testing::QueryRows(*c, "SELECT * FROM missing_table");
            }).find("no such table: missing_table"),
            std::string::npos);
}

TEST_F(OdbcTest, PostgresDriverTypesTimeOutAndPassword) {
  if (testing::PgPort().empty())
    GTEST_SKIP() << "OSTREVANE_PG_PORT is not set: no PostgreSQL test cluster";
  if (pg_driver_.empty())
    GTEST_SKIP() << "the PostgreSQL ODBC driver (odbc-postgresql) is not installed";
  auto c = Connect(PgCs());
  testing::ExecSql(
      *c,
      "CREATE TABLE t (i2 int2, i4 int4, i8 int8, f8 float8, n9 numeric(9,0), n10 numeric(10,2), "
      "n38 numeric(38,10), d date, ts timestamp, ch char(5), vc varchar(10), tx text, by bytea, u "
      "uuid)");
  testing::ExecSql(*c,
                   "INSERT INTO t VALUES (-3, 7, 9000000000, 0.1, 123456789, -1234.56, "
                   "1234567890123456789012345678.9012345678, '2015-10-08', '2015-10-08 14:03:05', "
                   "'ab', 'Grüße', "
                   "NULL, '\\x00ff', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11')");
  Query q(*c);
  q.SetSql("SELECT * FROM t");
  q.Open();
  ExpectFields(q, {{"i2", FieldType::kSmallint},
                   {"i4", FieldType::kInteger},
                   {"i8", FieldType::kLargeint},
                   {"f8", FieldType::kFloat},
                   {"n9", FieldType::kInteger},
                   {"n10", FieldType::kBCD},
                   {"n38", FieldType::kFMTBcd},
                   {"d", FieldType::kDate},
                   {"ts", FieldType::kDateTime},
                   {"ch", FieldType::kFixedChar},
                   {"vc", FieldType::kString},
                   {"tx", FieldType::kMemo},
                   {"by", FieldType::kBlob},
                   {"u", FieldType::kGuid}});
  auto v = [&](const char* n) { return q.FindField(n)->value(); };
  EXPECT_EQ(v("n10").kind, ValueKind::kCurrency);
  EXPECT_EQ(v("n10").i, -12345600);
  EXPECT_EQ(v("n38").s, "1234567890123456789012345678.9012345678");
  EXPECT_EQ(v("vc").s, "Grüße");
  EXPECT_EQ(v("tx").s, "");
  EXPECT_EQ(v("by").s, std::string("\0\xff", 2));
  EXPECT_EQ(v("u").s, "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11");
  q.Close();

  // Parameters and manual commit on the server.
  c->BeginTransaction();
  Query ins(*c);
  ins.SetSql("INSERT INTO t (i4, vc) VALUES (:i, :s)");
  ins.params()[0].value.SetText("8");
  ins.params()[1].value.SetText("x");
  ins.Execute();
  c->Rollback();
  EXPECT_EQ(testing::QueryRows(*c, "SELECT count(*) FROM t")[0][0].i, 1);

  // The query time-out cancels a statement that runs too long.
  Query slow(*c);
  slow.set_command_timeout(1);
  slow.SetSql("SELECT pg_sleep(20)");
  auto start = std::chrono::steady_clock::now();
  std::string m = testing::DatabaseErrorOf([&] { slow.Open(); });
  EXPECT_NE(m.find("cancel"), std::string::npos) << m;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  c.reset();

  // A wrong password is refused and does not appear in the message.
  const std::string role = "odbc_" + pg_db_;
  testing::PgAdmin("CREATE ROLE " + role + " LOGIN PASSWORD 'Right-Pass-1' IN ROLE password_login");
  EXPECT_NO_THROW(Connect(PgCs(role, "Right-Pass-1")));
  m = testing::DatabaseErrorOf([&] { Connect(PgCs(role, "Wrong-Secret-7")); });
  EXPECT_NE(m.find("password authentication failed"), std::string::npos) << m;
  EXPECT_EQ(m.find("Wrong-Secret-7"), std::string::npos) << m;
}

}  // namespace
}  // namespace ostrevane
