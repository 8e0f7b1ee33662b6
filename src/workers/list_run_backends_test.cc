// The same typed table exported by list runs through every backend: the
// files must be byte-identical wherever the types agree, and a failed job
// must leave nothing behind on the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "data/connection_string.h"
#include "data/dataset.h"
#include "common/json_reader.h"
#include "testing/json_lines.h"
#include "testing/pg_server.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const char kTable[] = R"(
CREATE TABLE typed (id INTEGER, name VARCHAR(20), amount DECIMAL(10,2), big DECIMAL(30,8),
                    ratio DOUBLE PRECISION, day DATE, at TIMESTAMP, flag BOOLEAN, marked INTEGER);
INSERT INTO typed VALUES
  (1, 'plain', 12.30, 12345.12345678, 0.5, '2015-10-08', '2015-10-08 14:03:05', TRUE, 0),
  (2, 'semi;colon "q"', -0.05, -0.00000001, -1234.5678, '1899-12-30', '2000-02-29 23:59:59', FALSE, 0),
  (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0);
)";

void Execute(const std::string& cs, const std::string& sql) {
  Connection c;
  c.set_connection_string(cs);
  c.Open();
  Query q(c);
  q.SetSql(sql);
  q.Execute();
}

std::string OdbcDriver(const std::string& name) {
  std::ifstream ini("/etc/odbcinst.ini");
  for (std::string line; std::getline(ini, line);)
    if (line.rfind("[" + name + "]", 0) == 0) return name;
  return "";
}

// The XML file without its TIMESTAMP line, which differs from run to run.
std::string XmlBody(const std::string& xml) {
  const size_t ts = xml.find("<TIMESTAMP>");
  const size_t end = xml.find("</TIMESTAMP>");
  if (ts == std::string::npos || end == std::string::npos) return xml;
  return xml.substr(0, ts) + xml.substr(end);
}

class BackendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pg_ = testing::FreshPgDatabase();
    if (pg_.empty()) GTEST_SKIP() << "no PostgreSQL test cluster (OSTREVANE_PG_PORT unset)";
    testing::CreateSqliteDatabase(dir / "t.db", kTable);
    Execute(pg_, kTable);
    WriteFile(dir / "typed.sql",
              "SELECT id, name, amount, big, ratio, day, at, flag FROM typed ORDER BY id");
    // The SQLite ODBC driver reports decimal columns as text: without them
    // the types agree everywhere.
    WriteFile(dir / "common.sql", "SELECT id, name, ratio, day, at, flag FROM typed ORDER BY id");
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=4\n");
  }

  testing::ProgramResult RunList(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  std::string pg_;
  TempDir dir;
};

TEST_F(BackendsTest, SameTableGivesTheSameFiles) {
  const ConnectionString pg(pg_);
  std::vector<std::pair<std::string, std::string>> sources = {
      {"sqlite", testing::SqliteConnectionString(dir / "t.db")},
      {"postgres", pg_},
  };
  if (!OdbcDriver("SQLite3").empty())
    sources.push_back({"odbc_sqlite", "Provider=ODBC;Driver=SQLite3;Database=" + dir / "t.db"});
  if (!OdbcDriver("PostgreSQL Unicode").empty()) {
    const std::string host = pg.Get("Data Source");
    sources.push_back({"odbc_postgres",
                       "Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=" +
                           host.substr(0, host.find(':')) + ";Port=" + testing::PgPort() +
                           ";Database=" + pg.Get("Initial Catalog") +
                           ";UID=postgres;BoolsAsChar=0"});
  }
  std::string list;
  for (const auto& [name, cs] : sources) {
    testing::WriteUdlFile(dir / (name + ".udl"), cs);
    for (const char* sql : {"typed", "common"}) {
      const std::string out = std::string("out/") + sql + "_" + name;
      list += "-clear -udl:" + name + ".udl -sql:" + sql + ".sql -tocsv:" + out + ".csv -toxml:" +
              out + ".xml -tojson:" + out + ".jsonl\n";
    }
  }
  auto r = RunList(list);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  std::vector<std::string> json_files;
  for (const char* sql : {"typed", "common"}) {
    const std::string base = std::string("out/") + sql + "_";
    const std::string csv = ReadFile(dir / (base + "sqlite.csv"));
    const std::string xml = XmlBody(ReadFile(dir / (base + "sqlite.xml")));
    const std::string json = ReadFile(dir / (base + "sqlite.jsonl"));
    for (const auto& [name, cs] : sources) {
      json_files.push_back(dir / (base + name + ".jsonl"));
      if (name == "odbc_sqlite" && std::string(sql) == "typed") continue;
      EXPECT_EQ(ReadFile(dir / (base + name + ".csv")), csv) << sql << " " << name;
      EXPECT_EQ(XmlBody(ReadFile(dir / (base + name + ".xml"))), xml) << sql << " " << name;
      EXPECT_EQ(ReadFile(json_files.back()), json) << sql << " " << name;
    }
  }
  const std::string xml = ReadFile(dir / "out/typed_postgres.xml");
  EXPECT_NE(xml.find("big=\"12345.12345678\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("at=\"2015-10-08T14:03:05\""), std::string::npos) << xml;
  // JSON Lines: typed values, exact decimals; Python and jq read them.
  EXPECT_EQ(ReadFile(dir / "out/typed_postgres.jsonl"),
            "{\"id\":1,\"name\":\"plain\",\"amount\":12.3,\"big\":12345.12345678,\"ratio\":0.5,"
            "\"day\":\"2015-10-08\",\"at\":\"2015-10-08T14:03:05\",\"flag\":true}\n"
            "{\"id\":2,\"name\":\"semi;colon \\\"q\\\"\",\"amount\":-0.05,\"big\":-0.00000001,"
            "\"ratio\":-1234.5678,\"day\":\"1899-12-30\",\"at\":\"2000-02-29T23:59:59\",\"flag\":false}\n"
            "{\"id\":3,\"name\":null,\"amount\":null,\"big\":null,\"ratio\":null,\"day\":null,"
            "\"at\":null,\"flag\":null}\n");
  EXPECT_EQ(testing::JsonLinesProblems(json_files), "");
}

TEST_F(BackendsTest, AFailedJobLeavesNothingOnTheServer) {
  testing::WriteUdlFile(dir / "pg.udl", pg_);
  WriteFile(dir / "mark.sql", "UPDATE typed SET marked = 1 WHERE id = :id");
  WriteFile(dir / "bad_global.sql", "INSERT INTO nowhere VALUES (1)");
  auto r = RunList("-udl:pg.udl -sql:typed.sql -tocsv:out/pg.csv -postrecsql:mark.sql "
                   "-postsql:bad_global.sql\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("nowhere"), std::string::npos) << r.out;
  Connection c;
  c.set_connection_string(pg_);
  c.Open();
  Query q(c);
  q.SetSql("SELECT COUNT(*) FROM typed WHERE marked = 1");
  q.Open();
  EXPECT_EQ(q.FieldAt(0).value().i, 0);
}

// -ifempty:skip on the server: the empty job is done, writes nothing, and
// its global post-SQL is committed; without it the job fails and its
// post-SQL never runs.
TEST_F(BackendsTest, AnEmptyResultIsSkippedOnlyWhenAsked) {
  testing::WriteUdlFile(dir / "pg.udl", pg_);
  Execute(pg_, "CREATE TABLE runs (n INTEGER)");
  WriteFile(dir / "none.sql", "SELECT id, name FROM typed WHERE id > 100");
  WriteFile(dir / "mark.sql", "INSERT INTO runs VALUES (1)");
  auto r = RunList("-udl:pg.udl -sql:none.sql -tocsv:out/none.csv -postsql:mark.sql "
                   "-ifempty:skip\n"
                   "-sql:none.sql -tocsv:out/none2.csv -ifempty:error\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("job 1, line 1: zero records returned, nothing to write"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("job 1, line 1: Global post-SQL query executed"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("job 2, line 2: zero records returned\n"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  Connection c;
  c.set_connection_string(pg_);
  c.Open();
  Query q(c);
  q.SetSql("SELECT COUNT(*) FROM runs");
  q.Open();
  EXPECT_EQ(q.FieldAt(0).value().i, 1);  // job 1 only
}

}  // namespace
}  // namespace ostrevane
