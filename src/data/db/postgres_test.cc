// Runs against the test cluster of scripts/pg_cluster.sh (OSTREVANE_PG_PORT);
// every test makes its own database.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "testing/pg_server.h"

namespace ostrevane {
namespace {

using testing::FreshPgDatabase;
using testing::PgAdmin;
using testing::PgPort;

class PostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = FreshPgDatabase();
    if (cs_.empty())
      GTEST_SKIP() << "OSTREVANE_PG_PORT is not set: no PostgreSQL test cluster "
                      "(source scripts/pg_cluster.sh && pg_cluster_start)";
  }

  std::unique_ptr<Connection> Connect(const std::string& cs = "") {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs.empty() ? cs_ : cs);
    c->set_connection_timeout(5);
    c->Open();
    return c;
  }

  static int64_t Count(Connection& c, const std::string& table) {
    return testing::QueryRows(c, "SELECT count(*) FROM " + table)[0][0].i;
  }

  std::string cs_;
};

DateTime Local(int y, int mo, int d, int h, int mi, double s) {
  return EncodeDateTime(y, mo, d, h, mi, 0) + s / 86400;
}

TEST_F(PostgresTest, ColumnTypesAndValues) {
  auto c = Connect();
  testing::ExecSql(
      *c,
      "CREATE TABLE t (i2 int2, i4 int4, i8 int8, f4 float4, f8 float8, n9 numeric(9,0), "
      "n10 numeric(10,2), n19 numeric(19,4), n38 numeric(38,10), nu numeric, b bool, d date, "
      "tm time, ts timestamp, tz timestamptz, ch char(5), vc varchar(10), tx text, by bytea, "
      "u uuid, iv interval, js json);"
      "INSERT INTO t VALUES (-32768, 2147483647, -9223372036854775808, 0.1, 0.1, 123456789, "
      "-12345678.91, 123456789012345.6789, 1234567890123456789012345678.9012345678, "
      "-0.000000000000000000001, true, '2015-10-08', '14:03:05.678', '2015-10-08 14:03:05.678901', "
      "'2015-07-01 12:00:00+00', 'ab', 'xyz', 'long text', '\\x00ff41', "
      "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '1 day 02:00:00', '{\"a\": 1}');"
      "INSERT INTO t (tx, by, d) VALUES (NULL, '', '0044-03-15 BC')");
  Query q(*c);
  q.SetSql("SELECT * FROM t ORDER BY i4 NULLS LAST");
  q.Open();

  struct {
    const char* name;
    FieldType type;
    int64_t size;
  } fields[] = {
      {"i2", FieldType::kSmallint, 0}, {"i4", FieldType::kInteger, 0},
      {"i8", FieldType::kLargeint, 0}, {"f4", FieldType::kFloat, 0},
      {"f8", FieldType::kFloat, 0},    {"n9", FieldType::kInteger, 0},
      {"n10", FieldType::kBCD, 2},     {"n19", FieldType::kBCD, 4},
      {"n38", FieldType::kFMTBcd, 10}, {"nu", FieldType::kFMTBcd, 0},
      {"b", FieldType::kBoolean, 0},   {"d", FieldType::kDate, 0},
      {"tm", FieldType::kTime, 0},     {"ts", FieldType::kDateTime, 0},
      {"tz", FieldType::kDateTime, 0}, {"ch", FieldType::kFixedChar, 5},
      {"vc", FieldType::kString, 10},  {"tx", FieldType::kMemo, 0},
      {"by", FieldType::kBlob, 0},     {"u", FieldType::kGuid, 38},
      {"iv", FieldType::kString, 0},   {"js", FieldType::kString, 0},
  };
  ASSERT_EQ(q.FieldCount(), std::size(fields));
  for (size_t i = 0; i < std::size(fields); ++i) {
    EXPECT_EQ(q.FieldAt(i).name(), fields[i].name);
    EXPECT_EQ(FieldTypeName(q.FieldAt(i).type()), std::string(FieldTypeName(fields[i].type)))
        << fields[i].name;
    EXPECT_EQ(q.FieldAt(i).size(), fields[i].size) << fields[i].name;
  }

  auto v = [&](const char* name) { return q.FindField(name)->value(); };
  EXPECT_EQ(v("i2").kind, ValueKind::kInt16);
  EXPECT_EQ(v("i2").i, -32768);
  EXPECT_EQ(v("i4").kind, ValueKind::kInt32);
  EXPECT_EQ(v("i8").i, INT64_MIN);
  EXPECT_EQ(v("i8").kind, ValueKind::kInt64);
  EXPECT_EQ(v("f4").d, double(0.1f));  // a single, widened
  EXPECT_EQ(v("f8").d, 0.1);
  EXPECT_EQ(v("n9").kind, ValueKind::kInt32);
  EXPECT_EQ(v("n9").i, 123456789);
  EXPECT_EQ(v("n10").kind, ValueKind::kCurrency);
  EXPECT_EQ(v("n10").i, -123456789100);
  EXPECT_EQ(v("n19").i, 1234567890123456789);
  EXPECT_EQ(v("n38").kind, ValueKind::kDecimal);
  EXPECT_EQ(v("n38").s, "1234567890123456789012345678.9012345678");
  EXPECT_EQ(v("nu").s, "-0.000000000000000000001");
  EXPECT_EQ(v("b").kind, ValueKind::kBoolean);
  EXPECT_EQ(v("b").i, 1);
  EXPECT_EQ(v("d").kind, ValueKind::kDateTime);
  EXPECT_EQ(v("d").d, EncodeDateTime(2015, 10, 8));
  EXPECT_NEAR(v("tm").d, (14 * 3600 + 3 * 60 + 5.678) / 86400, 1e-11);
  EXPECT_NEAR(v("ts").d, Local(2015, 10, 8, 14, 3, 5.678), 1e-11);  // cut to milliseconds
  {
    time_t utc_noon = 1435752000;  // 2015-07-01 12:00:00 UTC
    struct tm lt;
    localtime_r(&utc_noon, &lt);
    EXPECT_NEAR(
        v("tz").d,
        Local(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec),
        1e-9);
  }
  EXPECT_EQ(v("ch").s, "ab   ");
  EXPECT_EQ(v("vc").s, "xyz");
  EXPECT_EQ(v("tx").s, "long text");
  EXPECT_EQ(v("by").kind, ValueKind::kBytes);
  EXPECT_EQ(v("by").s, std::string("\0\xff"
                                   "A",
                                   3));
  EXPECT_EQ(v("u").kind, ValueKind::kGuid);
  EXPECT_EQ(v("u").s, "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11");
  EXPECT_EQ(v("iv").s, "1 day 02:00:00");
  EXPECT_EQ(v("js").s, "{\"a\": 1}");

  q.Next();
  ASSERT_FALSE(q.Eof());
  EXPECT_TRUE(v("i4").IsNull());
  EXPECT_EQ(v("tx").kind, ValueKind::kText);  // a null long text arrives as empty text
  EXPECT_EQ(v("tx").s, "");
  EXPECT_TRUE(v("by").IsNull());  // an empty long binary value arrives as null
  EXPECT_EQ(v("d").d, EncodeDateTime(-43, 3, 15));
  q.Next();
  EXPECT_TRUE(q.Eof());
}

// Microseconds are cut, never rounded: the last microsecond of a year stays
// in that year, of a day in that day.
TEST_F(PostgresTest, FractionsAreCutToMillisecondsNotRoundedIntoTheNextSecond) {
  auto c = Connect();
  for (const char* sql : {"SELECT '2024-12-31 23:59:59.999999'::timestamp AS x",
                          "SELECT '2024-12-31 23:59:59.999999'::timestamptz AS x",
                          "SELECT '23:59:59.9996'::time AS x"}) {
    SCOPED_TRACE(sql);
    const DateTimeParts p = DecodeDateTime(testing::QueryRows(*c, sql)[0][0].d);
    EXPECT_EQ(p.second, 59);
    EXPECT_EQ(p.millisecond, 999);
  }
}

TEST_F(PostgresTest, ValuesThatFitNoValueKindFailClearly) {
  auto c = Connect();
  struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"SELECT 'infinity'::timestamp AS x",
       "Column \"x\" holds the date-time \"infinity\"; cast it to text"},
      {"SELECT 'NaN'::numeric AS x", "Column \"x\" holds the value \"NaN\""},
      {"SELECT 99999999999999999.99::numeric(19,2) AS x", "outside the currency range"},
  };
  for (const auto& row : cases)
    EXPECT_NE(testing::DatabaseErrorOf([&] { testing::QueryRows(*c, row.sql); }).find(row.message),
              std::string::npos)
        << row.sql;
}

TEST_F(PostgresTest, ParametersAsTextAndTyped) {
  auto c = Connect();
  testing::ExecSql(
      *c,
      "CREATE TABLE p (i int4, n numeric(12,4), d date, ts timestamp, b bool, by bytea, "
      "u uuid, tx text, f float8)");
  Query ins(*c);
  ins.SetSql(
      "INSERT INTO p VALUES (:i, :n, :d, :ts, :b, :by, :u, :tx, :f) -- at 10:30 (a :comment)");
  auto& ps = ins.params();
  ASSERT_EQ(ps.size(), 9u);  // the comment's ":30" and ":comment" are none

  // Job values arrive as text with no type: the server infers the types.
  const char* texts[] = {"42",
                         "-12.5",
                         "2015-10-08",
                         "2015-10-08 14:03:05",
                         "true",
                         "\\x0102",
                         "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
                         "Grüße 'x'",
                         "0.25"};
  for (size_t k = 0; k < 9; ++k) ps[k].value.SetText(texts[k]);
  ins.Execute();

  // Post-record binding: values of their own kinds with the field's type.
  ps[0].type = FieldType::kInteger, ps[0].value.SetInteger(-7, ValueKind::kInt32);
  ps[1].type = FieldType::kBCD, ps[1].value.SetCurrency(-1234567);  // -123.4567
  ps[2].type = FieldType::kDate, ps[2].value.SetDateTime(EncodeDateTime(1999, 12, 31));
  ps[3].type = FieldType::kDateTime,
  ps[3].value.SetDateTime(EncodeDateTime(2000, 2, 29, 23, 59, 58, 250));
  ps[4].type = FieldType::kBoolean, ps[4].value.SetBoolean(false);
  ps[5].type = FieldType::kBlob,
  ps[5].value.SetText(std::string("\0\x01\xff", 3), ValueKind::kBytes);
  ps[6].type = FieldType::kGuid,
  ps[6].value.SetText("A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11", ValueKind::kGuid);
  ps[7].type = FieldType::kMemo, ps[7].value.SetNull();
  ps[8].type = FieldType::kFloat, ps[8].value.SetDouble(0.1 + 0.2);
  ins.Execute();

  auto rows = testing::QueryRows(*c, "SELECT * FROM p ORDER BY i DESC");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].i, 42);
  EXPECT_EQ(rows[0][1].i, -125000);
  EXPECT_EQ(rows[0][2].d, EncodeDateTime(2015, 10, 8));
  EXPECT_EQ(rows[0][4].i, 1);
  EXPECT_EQ(rows[0][5].s, std::string("\x01\x02"));
  EXPECT_EQ(rows[0][7].s, "Grüße 'x'");
  EXPECT_EQ(rows[1][0].i, -7);
  EXPECT_EQ(rows[1][1].i, -1234567);
  EXPECT_EQ(rows[1][2].d, EncodeDateTime(1999, 12, 31));
  EXPECT_NEAR(rows[1][3].d, EncodeDateTime(2000, 2, 29, 23, 59, 58, 250), 1e-9);
  EXPECT_EQ(rows[1][4].i, 0);
  EXPECT_EQ(rows[1][5].s, std::string("\0\x01\xff", 3));
  EXPECT_EQ(rows[1][6].s, "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11");
  EXPECT_EQ(rows[1][7].s, "");         // null text
  EXPECT_EQ(rows[1][8].d, 0.1 + 0.2);  // doubles travel with full precision

  // Several statements with parameters: each gets its own.
  Query two(*c);
  two.SetSql(
      "UPDATE p SET tx = :a WHERE i = :b; DELETE FROM p WHERE i <> :b; SELECT tx, :a AS a FROM p");
  ASSERT_EQ(two.params().size(), 2u);  // :a and :b, each used twice
  two.params()[0].value.SetText("changed");
  two.params()[1].value.SetText("42");
  two.Open();
  ASSERT_FALSE(two.Eof());
  EXPECT_EQ(two.FieldAt(0).value().s, "changed");
  EXPECT_EQ(two.FieldAt(1).value().s, "changed");
  two.Next();
  EXPECT_TRUE(two.Eof());
}

// A placeholder's name ends where the name ends: an operator, a tab or a
// cast right after it leaves it bound.
TEST_F(PostgresTest, PlaceholdersNextToOperatorsAndCastsAreBound) {
  auto c = Connect();
  Query q(*c);
  q.SetSql("SELECT :x::int+1, :x::text||:Y, :x\t|| 'a'::text, (:X::int*2)::text");
  ASSERT_EQ(q.params().size(), 2u);  // x and Y
  for (Param& p : q.params().items()) p.value.SetText(IEquals(p.name, "x") ? "2" : "b");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAt(0).value().i, 3);
  EXPECT_EQ(q.FieldAt(1).value().s, "2b");
  EXPECT_EQ(q.FieldAt(2).value().s, "2a");
  EXPECT_EQ(q.FieldAt(3).value().s, "4");
}

TEST_F(PostgresTest, ScriptsAndTheirLastResultSet) {
  auto c = Connect();
  // A script with a dollar-quoted body goes whole to the server.
  testing::ExecSql(*c,
                   "CREATE TABLE s (a int); INSERT INTO s VALUES (1);\n"
                   "DO $$ BEGIN INSERT INTO s VALUES (2); RAISE NOTICE 'hello; world'; END $$;\n"
                   "INSERT INTO s VALUES (3)");
  EXPECT_EQ(Count(*c, "s"), 3);

  // With rows wanted, the last statement's result set is read.
  auto rows = testing::QueryRows(
      *c, "SET search_path = public; SELECT 'x' AS first; SELECT a FROM s WHERE a > 1 ORDER BY a;");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0].i, 3);

  // A statement without a result set opens no fields; a failing earlier
  // statement is reported.
  Query q(*c);
  q.SetSql("UPDATE s SET a = a");
  q.Open();
  EXPECT_EQ(q.FieldCount(), 0u);
  EXPECT_TRUE(q.Eof());
  EXPECT_NE(testing::DatabaseErrorOf([&] {
              testing::QueryRows(*c, "SELECT nope FROM s; SELECT 1");
            }).find("column \"nope\" does not exist"),
            std::string::npos);
  // COPY through the client is refused cleanly and leaves the connection usable.
  EXPECT_NE(testing::DatabaseErrorOf([&] {
              testing::ExecSql(*c, "COPY s FROM STDIN");
            }).find("COPY FROM STDIN is not supported"),
            std::string::npos);
  EXPECT_NE(testing::DatabaseErrorOf([&] {
              testing::QueryRows(*c, "COPY s TO STDOUT");
            }).find("COPY TO STDOUT is not supported"),
            std::string::npos);
  EXPECT_EQ(Count(*c, "s"), 3);
  // A script changing the session's date style does not confuse the reader.
  EXPECT_EQ(testing::QueryRows(*c, "SET DateStyle = 'German'; SELECT DATE '2015-10-08'")[0][0].d,
            EncodeDateTime(2015, 10, 8));
}

TEST_F(PostgresTest, TransactionsCommitAndRollBack) {
  auto c = Connect();
  testing::ExecSql(*c, "CREATE TABLE tr (a int UNIQUE)");
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO tr VALUES (1)");
  c->Commit();
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO tr VALUES (2)");
  c->Rollback();
  EXPECT_EQ(Count(*c, "tr"), 1);

  // A failed statement aborts the transaction; COMMIT must not pass for success.
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO tr VALUES (3)");
  EXPECT_NE(testing::DatabaseErrorOf([&] {
              testing::ExecSql(*c, "INSERT INTO tr VALUES (1)");
            }).find("duplicate key"),
            std::string::npos);
  EXPECT_NE(testing::DatabaseErrorOf([&] { c->Commit(); }).find("rolled back"), std::string::npos);
  EXPECT_EQ(Count(*c, "tr"), 1);

  // Closing with an open transaction rolls it back.
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO tr VALUES (4)");
  c->Close();
  c = Connect();
  EXPECT_EQ(Count(*c, "tr"), 1);
}

TEST_F(PostgresTest, StreamsAndLetsAnotherStatementRunMidStream) {
  auto c = Connect();
  Query big(*c);
  big.SetSql("SELECT g, repeat('x', 100) FROM generate_series(1, 200000) g");
  big.Open();
  int64_t n = 0;
  for (; !big.Eof() && n < 10; big.Next()) ++n;
  // A follow-up statement while rows are still arriving: the rest of the
  // stream is kept for the first query.
  EXPECT_EQ(testing::QueryRows(*c, "SELECT 7")[0][0].i, 7);
  for (; !big.Eof(); big.Next()) ++n;
  EXPECT_EQ(n, 200000);
  EXPECT_EQ(big.FieldAt(0).value().i, 200000);  // the last record stays current

  // A rollback mid-stream discards the rest instead of reading it, and says so.
  c->BeginTransaction();
  big.Open();
  c->Rollback();
  EXPECT_EQ(testing::DatabaseErrorOf([&] {
              for (; !big.Eof(); big.Next()) {
              }
            }),
            "The rest of the result set was discarded by a rollback");

  // A query closed early leaves the connection usable.
  big.Open();
  big.Close();
  EXPECT_EQ(testing::QueryRows(*c, "SELECT 8")[0][0].i, 8);
}

TEST_F(PostgresTest, CommandTimeOutCancelsTheWaitNotTheReading) {
  auto c = Connect();
  testing::ExecSql(*c, "CREATE TABLE w (a int)");
  c->BeginTransaction();
  testing::ExecSql(*c, "INSERT INTO w VALUES (1)");
  Query slow(*c);
  slow.set_command_timeout(1);
  slow.SetSql("SELECT pg_sleep(20)");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(testing::DatabaseErrorOf([&] { slow.Open(); }),
            "The command time-out of 1 s expired and the statement was canceled");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  c->Rollback();
  EXPECT_EQ(Count(*c, "w"), 0);

  // Rows that arrive in time may be read for longer than the time-out.
  Query stream(*c);
  stream.set_command_timeout(1);
  stream.SetSql("SELECT g FROM generate_series(1, 3) g");
  stream.Open();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int n = 0;
  for (; !stream.Eof(); stream.Next()) ++n;
  EXPECT_EQ(n, 3);
}

TEST_F(PostgresTest, ConnectionFailuresGiveOneCleanLine) {
  // A port nothing listens on: the cluster's port + 1 is free more often than not;
  // use a port we just bound and released.
  struct {
    std::string cs;
    const char* message;
  } cases[] = {
      {"Provider=PostgreSQL;Data Source=127.0.0.1:1;User ID=postgres", "Connection refused"},
      {"Provider=PostgreSQL;Data Source=127.0.0.1;Port=" + PgPort() +
           ";Initial Catalog=no_such_db;User ID=postgres",
       "database \"no_such_db\" does not exist"},
  };
  for (const auto& row : cases) {
    std::string m = testing::DatabaseErrorOf([&] { Connect(row.cs); });
    EXPECT_NE(m.find(row.message), std::string::npos) << m;
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;
  }
}

TEST_F(PostgresTest, WrongPasswordIsNotInTheMessage) {
  const std::string role = "pw_" + cs_.substr(cs_.find("Catalog=") + 8, 30);
  const std::string db =
      cs_.substr(cs_.find("Catalog=") + 8, cs_.find(";User") - cs_.find("Catalog=") - 8);
  PgAdmin("CREATE ROLE " + role + " LOGIN PASSWORD 'Right-Pass-1' IN ROLE password_login");
  const std::string base = "Provider=PostgreSQL;Data Source=127.0.0.1:" + PgPort() +
                           ";Initial Catalog=" + db + ";User ID=" + role + ";Password=";
  EXPECT_NO_THROW(Connect(base + "Right-Pass-1"));
  std::string m;
  try {
    Connect(base + "Wrong-Secret-7");
  } catch (const Error& e) {
    m = e.message();
  }
  if (m.empty())
    GTEST_SKIP() << "the cluster accepts any password (start it with scripts/pg_cluster.sh)";
  EXPECT_NE(m.find("password authentication failed"), std::string::npos) << m;
  EXPECT_EQ(m.find("Wrong-Secret-7"), std::string::npos) << m;
}

TEST_F(PostgresTest, ConnectionLostMidResult) {
  auto c = Connect();
  c->BeginTransaction();
  testing::ExecSql(*c, "CREATE TABLE lost (a int)");
  const int64_t pid = testing::QueryRows(*c, "SELECT pg_backend_pid()")[0][0].i;
  Query q(*c);
  q.SetSql("SELECT g FROM generate_series(1, 5000000) g");
  q.Open();
  PgAdmin("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
  std::string m = testing::DatabaseErrorOf([&] {
    for (; !q.Eof(); q.Next()) {
    }
  });
  // The server's last word arrives, or is lost when the closed socket
  // still held unread bytes (the kernel then resets it): either is one line.
  EXPECT_TRUE(m.find("terminating connection") != std::string::npos ||
              m.find("server closed the connection unexpectedly") != std::string::npos)
      << m;
  EXPECT_EQ(m.find('\n'), std::string::npos) << m;
  EXPECT_NO_THROW(c->Rollback());
  EXPECT_NO_THROW(c->Close());
  c = Connect();
  EXPECT_EQ(
      testing::QueryRows(*c, "SELECT count(*) FROM pg_tables WHERE tablename = 'lost'")[0][0].i, 0);
}

TEST_F(PostgresTest, DeadlockFailsOneSideCleanly) {
  {
    auto setup = Connect();
    testing::ExecSql(
        *setup,
        "CREATE TABLE dl (id int PRIMARY KEY, v int); INSERT INTO dl VALUES (1, 0), (2, 0)");
  }
  auto a = Connect(), b = Connect();
  a->BeginTransaction();
  b->BeginTransaction();
  testing::ExecSql(*a, "UPDATE dl SET v = 1 WHERE id = 1");
  testing::ExecSql(*b, "UPDATE dl SET v = 2 WHERE id = 2");
  std::atomic<int> failures{0};
  std::string message;
  auto cross = [&](Connection& c, const char* sql) {
    try {
      testing::ExecSql(c, sql);
      c.Commit();
    } catch (const Error& e) {
      ++failures;
      message = e.message();
      c.Rollback();
    }
  };
  std::thread t([&] { cross(*a, "UPDATE dl SET v = 1 WHERE id = 2"); });
  cross(*b, "UPDATE dl SET v = 2 WHERE id = 1");
  t.join();
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(message, "deadlock detected");
  auto check = Connect();
  auto rows = testing::QueryRows(*check, "SELECT v FROM dl ORDER BY id");
  // The survivor's two updates are there; the victim left nothing.
  EXPECT_EQ(rows[0][0].i, rows[1][0].i);
}

TEST_F(PostgresTest, InvalidUtf8FromSqlAsciiDatabase) {
  auto c = Connect(
      FreshPgDatabase("ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"));
  testing::ExecSql(*c, "CREATE TABLE a (t text, v varchar(10))");
  testing::ExecSql(*c, "INSERT INTO a VALUES (E'ok \\xff\\xfe end', E'caf\\xe9'), ('Grüße', NULL)");
  auto rows = testing::QueryRows(*c, "SELECT t, v FROM a ORDER BY t DESC");
  EXPECT_EQ(rows[0][0].s, "ok \xEF\xBF\xBD\xEF\xBF\xBD end");
  EXPECT_EQ(rows[0][1].s, "caf\xEF\xBF\xBD");
  EXPECT_EQ(rows[1][0].s, "Grüße");  // valid UTF-8 bytes pass unchanged
  EXPECT_TRUE(rows[1][1].IsNull());
}

}  // namespace
}  // namespace ostrevane
