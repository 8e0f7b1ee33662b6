// Queries without parameters are read as a COPY stream, the rest in
// single-row mode; both must deliver the same values and the same errors.
// Runs against the test cluster of scripts/pg_cluster.sh.
#include "data/db/pg_copy_cursor.h"

#include <gtest/gtest.h>

#include <cmath>

#include "data/dataset.h"
#include "testing/database.h"
#include "testing/pg_server.h"

namespace ostrevane {
namespace {

class PgCopyCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = testing::FreshPgDatabase();
    if (cs_.empty()) GTEST_SKIP() << "OSTREVANE_PG_PORT is not set: no PostgreSQL test cluster";
    c_ = Connect();
  }

  std::unique_ptr<Connection> Connect() {
    auto c = std::make_unique<Connection>();
    c->set_connection_string(cs_);
    c->set_connection_timeout(5);
    c->Open();
    return c;
  }

  // The text of the last statement the server ran for `c_`, as a second
  // connection sees it.
  std::string LastStatement() {
    auto watcher = Connect();
    auto rows = testing::QueryRows(
        *watcher, "SELECT query FROM pg_stat_activity WHERE pid = " + std::to_string(pid_));
    return rows.empty() ? "" : rows[0][0].s;
  }

  std::string cs_;
  std::unique_ptr<Connection> c_;
  int64_t pid_ = 0;
};

TEST_F(PgCopyCursorTest, OnlyQueriesWithoutParametersAreStreamedAsCopy) {
  testing::ExecSql(*c_, "CREATE TABLE t (a int); INSERT INTO t VALUES (1), (2)");
  pid_ = testing::QueryRows(*c_, "SELECT pg_backend_pid()")[0][0].i;
  struct {
    std::string sql;
    bool with_param;
    bool copy;
    int64_t rows;
  } cases[] = {
      {"SELECT a FROM t ORDER BY a -- last line is a comment", false, true, 2},
      {"/* lead */ (values (1), (2), (3))", false, true, 3},
      {"with x as (select a from t) select * from x;", false, true, 2},
      {"SET search_path = public; TABLE t", false, true, 2},
      {"SELECT a FROM t WHERE a = :a", true, false, 1},
      {"SELECT a FROM t FOR UPDATE", false, true, 2},
      {"INSERT INTO t VALUES (3) RETURNING a", false, false, 1},
      {"SELECT a INTO t2 FROM t", false, false, 0},  // creates a table: no rows to stream
      {"SELECT", false, false, 1},                  // a row of no columns
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.sql);
    Query q(*c_);
    q.SetSql(row.sql);
    if (row.with_param) q.params()[0].value.SetText("2");
    q.Open();
    int64_t n = 0;
    for (; !q.Eof(); q.Next()) ++n;
    EXPECT_EQ(n, row.rows);
    EXPECT_EQ(LastStatement().rfind("COPY (", 0) == 0, row.copy) << LastStatement();
  }
  EXPECT_EQ(testing::QueryRows(*c_, "SELECT count(*) FROM t2")[0][0].i, 3);
}

TEST_F(PgCopyCursorTest, CopyAndSingleRowReadsGiveTheSameValues) {
  testing::ExecSql(*c_,
                   "CREATE TABLE v (k int, tx text, vc varchar(20), by bytea, n numeric(30,10), "
                   "f float8, r real, d date, ts timestamp, tz timestamptz, b bool, ar text[], "
                   "js json, u uuid, iv interval)");
  testing::ExecSql(
      *c_,
      "INSERT INTO v VALUES "
      "(1, E'tab\\there\\nnew line\\r\\\\back\\\\slash', E'\\\\N', '\\x00015c0a09ff', "
      "-12345678901234567890.0123456789, 'NaN', '-Infinity', '0001-01-01 BC', "
      "'2024-02-29 23:59:59.999999', '2024-06-30 12:00:00+02', true, "
      "ARRAY['a\"b', NULL, 'c\\d', 'x,y'], '{\"k\": \"v\\\\n\\t\"}', "
      "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '1 day -00:00:01'),"
      "(2, '', '', '', 0, 1e-300, 0.1, '2000-01-01', '1999-12-31 00:00:00', NULL, false, '{}', "
      "'null', NULL, NULL),"
      "(3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
      "(4, 'Grüße 😀 日本', repeat('é', 20), decode(repeat('5c', 5000), 'hex'), 1, 2, 3, "
      "'2038-01-19', '1970-01-01', '1970-01-01 00:00:00+00', NULL, NULL, NULL, NULL, '-1 mon')");
  auto read = [&](bool with_param) {
    Query q(*c_);
    q.SetSql(with_param ? "SELECT * FROM v WHERE k > :z ORDER BY k" : "SELECT * FROM v ORDER BY k");
    if (with_param) q.params()[0].value.SetText("0");
    q.Open();
    std::vector<std::vector<Value>> rows;
    for (; !q.Eof(); q.Next()) rows.push_back(q.current_row());
    return rows;
  };
  const auto streamed = read(false), single = read(true);
  ASSERT_EQ(streamed.size(), 4u);
  ASSERT_EQ(single.size(), 4u);
  for (size_t r = 0; r < 4; ++r) {
    ASSERT_EQ(streamed[r].size(), single[r].size());
    for (size_t c = 0; c < streamed[r].size(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r + 1) + " column " + std::to_string(c + 1));
      const Value &a = streamed[r][c], &b = single[r][c];
      EXPECT_EQ(a.kind, b.kind);
      EXPECT_EQ(a.s, b.s);
      EXPECT_EQ(a.i, b.i);
      EXPECT_TRUE(a.d == b.d || (std::isnan(a.d) && std::isnan(b.d))) << a.d << " " << b.d;
    }
  }
  EXPECT_EQ(streamed[0][1].s, "tab\there\nnew line\r\\back\\slash");
  EXPECT_EQ(streamed[0][2].s, "\\N");  // the text, not a NULL
  EXPECT_EQ(streamed[0][3].s, std::string("\x00\x01\\\n\t\xff", 6));
  EXPECT_EQ(streamed[3][3].s, std::string(5000, '\\'));
}

TEST_F(PgCopyCursorTest, AnErrorMidStreamFollowsTheRowsBeforeIt) {
  // Read straight through in a transaction, and read after another
  // statement took the connection mid-stream outside one (the rest, and the
  // error, were kept for later).
  for (bool interrupted : {false, true}) {
    SCOPED_TRACE(interrupted ? "interrupted" : "straight");
    if (!interrupted) c_->BeginTransaction();
    Query q(*c_);
    q.SetSql("SELECT 1 / (300 - g) FROM generate_series(1, 100000) g");
    q.Open();
    int n = 0;
    const std::string error = testing::DatabaseErrorOf([&] {
      for (; !q.Eof(); q.Next()) {
        if (++n == 10 && interrupted) {
          EXPECT_EQ(testing::QueryRows(*c_, "SELECT 5")[0][0].i, 5);
        }
      }
    });
    EXPECT_EQ(error, "division by zero");
    EXPECT_EQ(n, 299);
    if (!interrupted) c_->Rollback();
    EXPECT_EQ(testing::QueryRows(*c_, "SELECT 6")[0][0].i, 6);
  }
}

TEST_F(PgCopyCursorTest, StatementErrorsAreTheServersOwn) {
  struct {
    std::string sql;
    std::string error;
  } cases[] = {
      {"SELECT * FROM no_such_table", "relation \"no_such_table\" does not exist"},
      {"SELEC 1", "syntax error at or near \"SELEC\""},
      {"SELECT 'x'::int", "invalid input syntax for type integer: \"x\""},
      {"SELECT 1/0", "division by zero"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.sql);
    c_->BeginTransaction();
    Query q(*c_);
    q.SetSql(row.sql);
    EXPECT_EQ(testing::DatabaseErrorOf([&] { q.Open(); }), row.error);
    c_->Rollback();
  }
  EXPECT_EQ(testing::QueryRows(*c_, "SELECT 7")[0][0].i, 7);
}

}  // namespace
}  // namespace ostrevane
