// Results read in bound blocks: how columns are bound and how many rows a
// fetch brings, and, against the SQLite and PostgreSQL drivers, values
// longer than their buffers, NULLs, a failure inside a block, and a driver
// the program knows nothing of (read a row a fetch, in UTF-16).
#include "data/db/odbc_rows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "testing/odbc_drivers.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using odbc::Column;
using odbc::Conv;

Column Col(Conv conv, int64_t size = 0) { return {conv, ValueKind::kInt32, "c", size}; }

TEST(OdbcBlockPlanTest, BuffersAndRowsByColumnAndDriver) {
  const OdbcDriverTraits sqlite{true, true, false, 0}, postgres{true, true, true, 1000},
      unknown{};
  struct {
    const char* what;
    std::vector<Column> columns;
    bool narrow;
    OdbcDriverTraits traits;
    std::vector<std::pair<SQLSMALLINT, SQLLEN>> bound;  // C type, bytes a row
    size_t rows;
  } cases[] = {
      {"numbers and dates fit their buffers: a block of 1000",
       {Col(Conv::kInt), Col(Conv::kDouble), Col(Conv::kTimestamp), Col(Conv::kBit)},
       true,
       sqlite,
       {{SQL_C_SBIGINT, 8}, {SQL_C_DOUBLE, 8}, {SQL_C_TYPE_TIMESTAMP, 16}, {SQL_C_BIT, 1}},
       1000},
      {"text may be longer than declared: a row a fetch without positioned reads",
       {Col(Conv::kInt), Col(Conv::kText, 30)},
       true,
       sqlite,
       {{SQL_C_SBIGINT, 8}, {SQL_C_CHAR, 121}},
       1},
      {"with positioned reads, blocks as large as the driver's batch",
       {Col(Conv::kText, 30), Col(Conv::kDecimal, 10)},
       true,
       postgres,
       {{SQL_C_CHAR, 121}, {SQL_C_CHAR, 32}},
       1000},
      {"UTF-16 text: two code units a character and the NUL",
       {Col(Conv::kText, 30), Col(Conv::kGuid, 36)},
       false,
       postgres,
       {{SQL_C_WCHAR, 122}, {SQL_C_WCHAR, 146}},
       1000},
      {"long and unsized values start with 256 characters or bytes; 884 rows fit in 2 MiB, "
       "500 divide the batch",
       {Col(Conv::kMemo, 8190),
        Col(Conv::kText, 0),
        Col(Conv::kLongBinary),
        Col(Conv::kBinary, 16),
        Col(Conv::kBits, 64)},
       true,
       postgres,
       {{SQL_C_CHAR, 1025}, {SQL_C_CHAR, 1025}, {SQL_C_BINARY, 256}, {SQL_C_BINARY, 16},
        {SQL_C_BINARY, 8}},
       500},
      {"a block stays within 2 MiB",
       {Col(Conv::kText, 1024), Col(Conv::kText, 1024)},
       false,
       OdbcDriverTraits{true, true, true, 0},
       {{SQL_C_WCHAR, 4098}, {SQL_C_WCHAR, 4098}},
       255},
      {"blocks do not straddle the driver's batches of 1500 rows",
       {Col(Conv::kInt)},
       true,
       OdbcDriverTraits{true, true, true, 1500},
       {{SQL_C_SBIGINT, 8}},
       750},
      {"a driver the program does not know: a row a fetch",
       {Col(Conv::kInt), Col(Conv::kDate)},
       false,
       unknown,
       {{SQL_C_SBIGINT, 8}, {SQL_C_TYPE_DATE, 6}},
       1},
  };
  for (const auto& row : cases) {
    const odbc::BlockPlan plan = odbc::PlanBlock(row.columns, row.narrow, row.traits);
    std::vector<std::pair<SQLSMALLINT, SQLLEN>> bound;
    for (const odbc::BoundColumn& b : plan.columns) bound.emplace_back(b.c_type, b.width);
    EXPECT_EQ(bound, row.bound) << row.what;
    EXPECT_EQ(plan.rows, row.rows) << row.what;
  }
}

class OdbcRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite_driver_ = testing::OdbcDriver("SQLite3", "libsqlite3odbc.so");
    if (sqlite_driver_.empty())
      GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  }

  static std::unique_ptr<Connection> Connect(const std::string& cs) {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs);
    c->set_connection_timeout(5);
    c->Open();
    return c;
  }
  std::string SqliteCs(const std::string& driver) const {
    return "Provider=ODBC;Driver=" + driver + ";Database=" + dir_ / "t.db";
  }
  // The PostgreSQL driver and a fresh database on the test cluster; false
  // when there is no cluster or no driver.
  bool UsePg() {
    pg_driver_ = testing::OdbcDriver("PostgreSQL Unicode", "psqlodbcw.so");
    if (testing::PgPort().empty() || pg_driver_.empty()) return false;
    pg_db_ = testing::FreshPgDatabase();
    pg_db_ = pg_db_.substr(pg_db_.find("Catalog=") + 8);
    pg_db_ = pg_db_.substr(0, pg_db_.find(';'));
    return true;
  }
  std::string PgCs(const std::string& driver, const std::string& options = "") const {
    return "Provider=MSDASQL;Driver=" + driver + ";Servername=127.0.0.1;Port=" +
           testing::PgPort() + ";Database=" + pg_db_ + ";UID=postgres" + options;
  }

  // Reads `sql` until it fails: the rows that came first and the message.
  static std::pair<size_t, std::string> RowsBeforeFailure(Connection& c, const std::string& sql) {
    size_t rows = 0;
    const std::string message = testing::DatabaseErrorOf([&] {
      Query q(c);
      q.SetSql(sql);
      q.Open();
      for (; !q.Eof(); q.Next()) ++rows;
    });
    return {rows, message};
  }

  testing::TempDir dir_;
  std::string sqlite_driver_, pg_driver_, pg_db_;
};

// Values beyond the bound buffers (an unsized varchar is declared 255
// characters by the driver, text 8190, numeric 28 digits) are read again
// whole from their row inside a block of 1000, among short values and NULLs.
TEST_F(OdbcRowsTest, PostgresValuesLongerThanTheirBuffersInBlocks) {
  if (!UsePg()) GTEST_SKIP() << "no PostgreSQL test cluster or driver";
  auto c = Connect(PgCs(pg_driver_));
  testing::ExecSql(*c,
                   "CREATE TABLE t (k int, vc varchar, tx text, n numeric, b bytea, ts timestamp);"
                   "INSERT INTO t SELECT k, CASE WHEN k % 500 = 7 THEN repeat('é', 1000) "
                   "ELSE 'v' || k END, CASE WHEN k % 500 = 7 THEN repeat('x', 5000) ELSE 't' END,"
                   " CASE WHEN k % 500 = 7 THEN ('1' || repeat('0', 199))::numeric ELSE k END,"
                   " CASE WHEN k % 500 = 7 THEN decode(repeat('00ff', 700), 'hex') END,"
                   " timestamp '2024-02-29 23:59:59.999' FROM generate_series(1, 2500) k;"
                   "INSERT INTO t (k) VALUES (2501)");
  auto rows = testing::QueryRows(*c, "SELECT vc, tx, n, b, ts FROM t ORDER BY k");
  ASSERT_EQ(rows.size(), 2501u);
  std::string e1000, x5000, bytes, n200 = "1" + std::string(199, '0');
  for (int k = 0; k < 1000; ++k) e1000 += "é";
  x5000.assign(5000, 'x');
  for (int k = 0; k < 700; ++k) bytes += std::string("\0\xff", 2);
  for (size_t r = 0; r < 2500; ++r) {
    const int k = int(r) + 1;
    const bool long_row = k % 500 == 7;
    ASSERT_EQ(rows[r][0].s, long_row ? e1000 : "v" + std::to_string(k)) << k;
    ASSERT_EQ(rows[r][1].s, long_row ? x5000 : "t") << k;
    ASSERT_EQ(rows[r][2].s, long_row ? n200 : std::to_string(k)) << k;
    ASSERT_EQ(rows[r][3].IsNull(), !long_row) << k;
    if (long_row) {
      ASSERT_EQ(rows[r][3].s, bytes) << k;
    }
    ASSERT_EQ(rows[r][4].d, EncodeDateTime(2024, 2, 29, 23, 59, 59, 999)) << k;
  }
  for (size_t col = 0; col < 5; ++col)
    EXPECT_EQ(rows[2500][col].IsNull(), col != 1) << col;  // NULL text arrives as empty text
  EXPECT_EQ(rows[2500][1].s, "");
}

// A failure inside a block hands over the rows before it: a block never
// straddles two of the driver's batches (1000 rows, or the job's own
// Fetch), and the SQLite driver says how many rows of a block arrived.
TEST_F(OdbcRowsTest, AFailureInsideABlockComesAfterTheRowsBeforeIt) {
  auto sqlite = Connect(SqliteCs(sqlite_driver_));
  testing::ExecSql(*sqlite,
                   "CREATE TABLE n (i INTEGER); WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL "
                   "SELECT i + 1 FROM s WHERE i < 2000) INSERT INTO n SELECT i FROM s");
  auto [rows, message] = RowsBeforeFailure(
      *sqlite, "SELECT i FROM n WHERE abs(CASE WHEN i = 1300 THEN -9223372036854775808 "
               "ELSE i END) > 0");
  EXPECT_EQ(rows, 1299u);
  EXPECT_NE(message.find("integer overflow"), std::string::npos) << message;

  struct {
    std::string options;
    size_t rows;
  } cases[] = {{"", 2000}, {";Fetch=100", 2400}};
  if (!UsePg()) GTEST_SKIP() << "no PostgreSQL test cluster or driver";
  for (const auto& row : cases) {
    auto pg = Connect(PgCs(pg_driver_, row.options));
    pg->BeginTransaction();
    auto [pg_rows, pg_message] = RowsBeforeFailure(
        *pg, "SELECT i FROM generate_series(1, 3000) i WHERE 1 / (2500 - i) IS NOT NULL");
    EXPECT_EQ(pg_rows, row.rows) << row.options;
    EXPECT_NE(pg_message.find("division by zero"), std::string::npos) << pg_message;
  }
}

// The SQLite driver keeps any length in a column declared varchar(5), and
// the PostgreSQL driver declares an unsized varchar 255 characters. The
// same tables read alike through drivers the program does not know (the
// same libraries under other names: read a row a fetch, the PostgreSQL
// one's text in UTF-16).
TEST_F(OdbcRowsTest, ValuesBeyondDeclaredSizesThroughKnownAndUnknownDrivers) {
  const std::string long_text = std::string(300, 'a') + "Grüße 日本 😀";
  const std::string bytes(1000, '\x7f');
  const bool pg = UsePg();
  struct {
    std::function<std::string(const std::string&)> cs;  // of a driver
    std::string known, library, table;
  } cases[] = {
      {[&](const std::string& d) { return SqliteCs(d); }, sqlite_driver_, "libsqlite3odbc.so",
       "CREATE TABLE t (k integer, s varchar(5), d date, r real, bl blob)"},
      {[&](const std::string& d) { return PgCs(d); }, pg_driver_, "psqlodbcw.so",
       "CREATE TABLE t (k integer, s varchar, d date, r real, bl bytea)"},
  };
  int n = 0;
  for (const auto& row : cases) {
    if (row.library == "psqlodbcw.so" && !pg) continue;
    const std::string library = testing::OdbcDriver("", row.library);
    ASSERT_FALSE(library.empty()) << row.library;
    const std::string alias = dir_ / ("libplain" + std::to_string(n++) + ".so");
    ASSERT_EQ(symlink(library.c_str(), alias.c_str()), 0);
    auto c = Connect(row.cs(row.known));
    testing::ExecSql(*c, row.table);
    Query ins(*c);
    ins.SetSql("INSERT INTO t VALUES (:k, :s, '2024-02-29', 0.5, :bl)");
    ins.params()[0].value.SetInteger(1);
    ins.params()[1].value.SetText(long_text);
    ins.params()[2].value.SetText(bytes, ValueKind::kBytes);
    ins.Execute();
    testing::ExecSql(*c, "INSERT INTO t (k, s) VALUES (2, 'ab')");
    testing::ExecSql(*c, "INSERT INTO t (k) VALUES (3)");
    c.reset();
    for (const std::string& driver : {row.known, alias}) {
      auto rows = testing::QueryRows(*Connect(row.cs(driver)), "SELECT * FROM t ORDER BY k");
      ASSERT_EQ(rows.size(), 3u) << driver;
      EXPECT_EQ(rows[0][1].s, long_text) << driver;
      EXPECT_EQ(rows[0][2].d, EncodeDateTime(2024, 2, 29)) << driver;
      EXPECT_EQ(rows[0][3].d, 0.5) << driver;
      EXPECT_EQ(rows[0][4].s, bytes) << driver;
      EXPECT_EQ(rows[1][1].s, "ab") << driver;
      for (size_t col = 1; col < 5; ++col) EXPECT_TRUE(rows[2][col].IsNull()) << driver << col;
    }
  }
}

}  // namespace
}  // namespace ostrevane
