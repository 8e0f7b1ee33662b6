#include "data/dataset.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "testing/database.h"
#include "testing/failure.h"
#include "testing/memory_backend.h"
#include "testing/mysql_server.h"
#include "testing/pg_server.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;

struct QueryFixture : ::testing::Test {
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  void SetUp() override {
    db->results.push_back({{{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}},
                           {{Value::Integer(1), Value::Text("a")},
                            {Value::Integer(2), Value::Text("b")},
                            {Value::Integer(3), Value::Null()}}});
    conn.Open();
  }
};

// One parameter per name, its value at every place; the backend receives
// one positional parameter per place. A text without placeholders reaches
// it unchanged, line breaks as LF and without a last one.
TEST_F(QueryFixture, ParametersByNameBindEveryPlace) {
  Query q(conn);
  q.SetSql("select * from t\r\nwhere a = :A and b = :b and c = :a -- :c\r\n");
  ASSERT_EQ(q.params().size(), 2u);
  EXPECT_EQ(q.params()[0].name, "A");  // the first spelling
  q.params().Find("a")->value = Value::Integer(7);
  q.Open();
  ASSERT_EQ(db->calls.size(), 1u);
  EXPECT_EQ(db->calls[0].sql, "select * from t\nwhere a = ?1 and b = ?2 and c = ?3 -- :c");
  ASSERT_EQ(db->calls[0].params.size(), 3u);
  EXPECT_EQ(db->calls[0].params[0].i, 7);
  EXPECT_TRUE(db->calls[0].params[1].IsNull());
  EXPECT_EQ(db->calls[0].params[2].i, 7);

  q.SetSql("select 1\rfrom t\n\n");
  EXPECT_EQ(q.params().size(), 0u);
  q.Open();
  EXPECT_EQ(db->calls[1].sql, "select 1\nfrom t\n");
}

TEST_F(QueryFixture, StreamingReadsForwardOnly) {
  Query q(conn);
  q.SetSql("select");
  q.Open();
  EXPECT_EQ(q.RecordCount(), -1);
  std::vector<int64_t> ids;
  for (; !q.Eof(); q.Next()) ids.push_back(q.FindField("id")->value().i);
  EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_TRUE(q.FieldAt(1).IsNull());  // the last record stays current
  EXPECT_THROW(q.First(), Error);
}

TEST_F(QueryFixture, RewindableAllowsASecondPass) {
  Query q(conn);
  q.set_rewindable(true);
  q.SetSql("select");
  q.Open();
  for (; !q.Eof(); q.Next()) {
  }
  EXPECT_EQ(q.RecordCount(), 3);
  q.First();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAt(1).value().s, "a");
  q.Next();
  EXPECT_EQ(q.FieldAt(0).value().i, 2);
}

TEST_F(QueryFixture, EmptyResultHasRecordCountZero) {
  db->results[0].rows.clear();
  Query q(conn);
  q.SetSql("select");
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 0);
}

TEST_F(QueryFixture, ClosingTheConnectionRollsBackAnOpenTransaction) {
  conn.BeginTransaction();
  conn.Close();
  EXPECT_EQ(db->events, (std::vector<std::string>{"open", "begin", "rollback", "close"}));
}

// Cancel, from another thread, ends the running statement on every backend
// the test run has, and the connection then rolls back cleanly. (KILL QUERY
// ends MariaDB's SLEEP without an error, hence BENCHMARK.)
TEST(ConnectionCancel, EndsTheRunningStatementOfEveryBackend) {
  testing::TempDir dir;
  const std::string file = dir / "t.db";
  testing::CreateSqliteDatabase(file, "CREATE TABLE t (x INTEGER)");
  const char* endless =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";
  const char* mariadb_busy = "SELECT BENCHMARK(1000000000000, MD5('x'))";
  const std::string mysql = testing::MysqlPort();
  struct {
    const char* name;
    std::string connection;  // empty: not in this test run
    const char* sql;
  } cases[] = {
      {"sqlite", "Provider=SQLite;Data Source=" + file, endless},
      {"postgres", testing::PgPort().empty() ? "" : testing::PgConnectionString("postgres"),
       "SELECT pg_sleep(60)"},
      {"mariadb", mysql.empty() ? "" : testing::MysqlConnectionString("mysql"), mariadb_busy},
      {"odbc sqlite",
       testing::OdbcDriverRegistered("SQLite3") ? "Provider=ODBC;Driver=SQLite3;Database=" + file
                                                : "",
       endless},
      {"odbc mariadb",
       mysql.empty() || !testing::OdbcDriverRegistered("MariaDB Unicode")
           ? ""
           : "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + mysql +
                 ";UID=root;Database=mysql",
       mariadb_busy},
  };
  for (const auto& c : cases) {
    if (c.connection.empty()) continue;
    SCOPED_TRACE(c.name);
    StopFlag stop;
    Connection conn;
    conn.set_command_timeout(0);
    conn.set_stop_flag(&stop);
    conn.set_connection_string(c.connection);
    conn.Open();
    conn.BeginTransaction();
    Query q(conn);
    q.SetSql(c.sql);
    std::thread watch([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      stop.Raise(StopReason::kRunStopped);
      conn.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(testing::FailureOf([&] { q.Open(); }), "");
    watch.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_NO_THROW(conn.Rollback());
    // Once stopped, nothing more starts on the connection.
    EXPECT_NE(testing::FailureOf([&] { q.Execute(); }), "");
  }
}

}  // namespace
}  // namespace ostrevane
