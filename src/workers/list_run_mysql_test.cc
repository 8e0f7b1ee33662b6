// List runs against the MariaDB test server: the same typed table gives the
// same files as SQLite, PostgreSQL and ODBC, and every kind of bad input
// fails its job with one clean error line while the server keeps nothing
// of the failed job.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/text.h"
#include "data/connection_string.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "common/json_reader.h"
#include "testing/json_lines.h"
#include "testing/mysql_server.h"
#include "testing/pg_server.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Written so that SQLite, PostgreSQL and MariaDB all accept it.
const char kTable[] = R"(
CREATE TABLE typed (id INTEGER, name VARCHAR(20), amount DECIMAL(10,2), big DECIMAL(30,8),
                    ratio DOUBLE PRECISION, day DATE, at TIMESTAMP NULL, flag BOOLEAN,
                    small SMALLINT, large BIGINT, code CHAR(4), note TEXT, clock TIME);
INSERT INTO typed VALUES
  (1, 'plain', 12.30, 12345.12345678, 0.5, '2015-10-08', '2015-10-08 14:03:05', TRUE,
   -32768, -9223372036854775807, 'abcd', 'Grüße, "q"', '14:03:05'),
  (2, 'semi;colon "q"', -0.05, -0.00000001, -1234.5678, '1899-12-30', '2000-02-29 23:59:59', FALSE,
   32767, 9223372036854775807, 'wxyz', '', '00:00:00'),
  (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
)";

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

std::vector<std::string> ErrorLines(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : SplitLines(out))
    if (line.find("[ERROR]") != std::string::npos) lines.push_back(line);
  return lines;
}

class MysqlListRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = testing::FreshMysqlDatabase();
    if (cs_.empty()) GTEST_SKIP() << "no MariaDB test server (OSTREVANE_MYSQL_PORT unset)";
    db_ = ConnectionString(cs_).Get("Initial Catalog");
    testing::WriteUdlFile(dir / "my.udl", cs_);
  }

  testing::ProgramResult RunList(const std::string& list, const std::string& settings = "") {
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=4\n" + settings);
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  // A second connection's view.
  std::vector<std::vector<Value>> Rows(const std::string& sql) {
    Connection c;
    c.set_connection_string(cs_);
    c.Open();
    return testing::QueryRows(c, sql);
  }

  // No transaction and no session of the run is left on the server. The
  // server ends a closed connection's session on its own time: a moment is
  // allowed for that.
  void ExpectNothingHeld() {
    const std::string others = "information_schema.processlist p WHERE p.db = '" + db_ +
                               "' AND p.id <> CONNECTION_ID()";
    int64_t sessions = -1;
    for (int k = 0; k < 50 && sessions != 0; ++k) {
      if (k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      sessions = Rows("SELECT COUNT(*) FROM " + others)[0][0].i;
    }
    EXPECT_EQ(sessions, 0);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM information_schema.innodb_trx t JOIN " + others +
                   " AND p.id = t.trx_mysql_thread_id")[0][0].i,
              0);
  }

  std::string cs_, db_;
  TempDir dir;
};

TEST_F(MysqlListRunTest, SameTableGivesTheSameFilesAsTheOtherBackends) {
  testing::MysqlAdmin(kTable, db_);
  testing::CreateSqliteDatabase(dir / "t.db", kTable);
  std::vector<std::pair<std::string, std::string>> sources = {
      {"sqlite", testing::SqliteConnectionString(dir / "t.db")},
      {"mysql", cs_},
  };
  const std::string pg = testing::FreshPgDatabase();
  if (!pg.empty()) {
    Connection c;
    c.set_connection_string(pg);
    c.Open();
    testing::ExecSql(c, kTable);
    sources.push_back({"postgres", pg});
  }
  // The ODBC driver agrees where its types do: no Boolean (it reports
  // TINYINT(1) as a small integer) and no TIME.
  const bool odbc = !OdbcDriver("MariaDB Unicode").empty();
  if (odbc)
    sources.push_back({"odbc_mysql", "Provider=ODBC;Driver={MariaDB Unicode};Server=127.0.0.1;"
                                     "Port=" + testing::MysqlPort() + ";Database=" + db_ +
                                     ";UID=root"});
  WriteFile(dir / "typed.sql", "SELECT * FROM typed ORDER BY id");
  WriteFile(dir / "common.sql",
            "SELECT id, name, amount, big, ratio, day, at, small, large, code, note "
            "FROM typed ORDER BY id");
  std::string list;
  for (const auto& [name, cs] : sources) {
    testing::WriteUdlFile(dir / (name + ".udl"), cs);
    for (const char* sql : {"typed", "common"}) {
      const std::string out = std::string("out/") + sql + "_" + name;
      list += "-clear -udl:" + name + ".udl -sql:" + sql + ".sql -tocsv:" + out + ".csv -toxml:" +
              out + ".xml -tojson:" + out + ".jsonl\n";
    }
  }
  // Unsigned 64-bit values and microseconds only MariaDB's two ways hold:
  // both must keep every digit and cut, never round, the fraction.
  testing::MysqlAdmin(
      "CREATE TABLE wide (u BIGINT UNSIGNED, w INT UNSIGNED, at DATETIME(6));"
      "INSERT INTO wide VALUES (18446744073709551615, 4294967295, '2024-12-31 23:59:59.999999'),"
      " (9223372036854775808, 0, '2015-10-08 14:03:05.5')",
      db_);
  WriteFile(dir / "wide.sql", "SELECT * FROM wide ORDER BY u");
  for (const auto& [name, cs] : sources)
    if (name == "mysql" || name == "odbc_mysql")
      list += "-clear -udl:" + name + ".udl -sql:wide.sql -tocsv:out/wide_" + name +
              ".csv -toxml:out/wide_" + name + ".xml\n";
  auto r = RunList(list);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  // The CSV is UTF-16LE with a byte-order mark.
  const std::string wide_bytes = ReadFile(dir / "out/wide_mysql.csv");
  std::u16string units;
  for (size_t i = 2; i + 1 < wide_bytes.size(); i += 2)
    units += char16_t(uint8_t(wide_bytes[i]) | uint8_t(wide_bytes[i + 1]) << 8);
  const std::string wide_csv = Utf16ToUtf8(units);
  EXPECT_NE(wide_csv.find("18446744073709551615"), std::string::npos) << wide_csv;
  EXPECT_NE(wide_csv.find("9223372036854775808"), std::string::npos) << wide_csv;
  EXPECT_NE(wide_csv.find("4294967295"), std::string::npos) << wide_csv;
  EXPECT_EQ(wide_csv.find("2025"), std::string::npos) << wide_csv;
  if (odbc) {
    EXPECT_EQ(ReadFile(dir / "out/wide_odbc_mysql.csv"), wide_bytes);
    EXPECT_EQ(XmlBody(ReadFile(dir / "out/wide_odbc_mysql.xml")),
              XmlBody(ReadFile(dir / "out/wide_mysql.xml")));
  }
  std::vector<std::string> json_files;
  for (const char* sql : {"typed", "common"}) {
    const std::string base = std::string("out/") + sql + "_";
    const std::string csv = ReadFile(dir / (base + "sqlite.csv"));
    const std::string xml = XmlBody(ReadFile(dir / (base + "sqlite.xml")));
    const std::string json = ReadFile(dir / (base + "sqlite.jsonl"));
    for (const auto& [name, cs] : sources) {
      json_files.push_back(dir / (base + name + ".jsonl"));
      if (name == "odbc_mysql" && std::string(sql) == "typed") continue;
      EXPECT_EQ(ReadFile(dir / (base + name + ".csv")), csv) << sql << " " << name;
      EXPECT_EQ(XmlBody(ReadFile(dir / (base + name + ".xml"))), xml) << sql << " " << name;
      EXPECT_EQ(ReadFile(json_files.back()), json) << sql << " " << name;
    }
  }
  EXPECT_EQ(testing::JsonLinesProblems(json_files), "");
  const std::string xml = ReadFile(dir / "out/typed_mysql.xml");
  EXPECT_NE(xml.find("big=\"12345.12345678\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("flag=\"1\""), std::string::npos) << xml;
}

TEST_F(MysqlListRunTest, BadInputFailsOneJobWithOneLine) {
  testing::MysqlAdmin(
      "SET SESSION sql_mode = '';"
      "CREATE TABLE marks (job VARCHAR(20)) ENGINE=InnoDB;"
      "CREATE TABLE zero (id INT, d DATE);"
      "INSERT INTO zero VALUES (1, '2024-01-01'), (2, '0000-00-00');"
      "CREATE TABLE l1 (t VARCHAR(10) CHARACTER SET latin1);"
      "INSERT INTO l1 VALUES (X'C328'), (X'E9');"
      "CREATE USER IF NOT EXISTS 'u_" + db_ + "'@'127.0.0.1' IDENTIFIED BY 'Right-Pw9';"
      "GRANT ALL ON " + db_ + ".* TO 'u_" + db_ + "'@'127.0.0.1'",
      db_);
  const std::string port = testing::MysqlPort();
  testing::WriteUdlFile(dir / "down.udl", "Provider=MySQL;Data Source=127.0.0.1:1;User ID=root");
  testing::WriteUdlFile(dir / "badpw.udl", "Provider=MySQL;Data Source=127.0.0.1:" + port +
                                               ";Initial Catalog=" + db_ + ";User ID=u_" + db_ +
                                               ";Password=Secret-Wr0ng");
  testing::WriteUdlFile(dir / "nodb.udl", "Provider=MySQL;Data Source=127.0.0.1:" + port +
                                              ";Initial Catalog=missing_" + db_ + ";User ID=root");
  WriteFile(dir / "one.sql", "SELECT 1");
  WriteFile(dir / "timeout.sql", "INSERT INTO marks VALUES ('timeout'); SELECT SLEEP(30)");
  WriteFile(dir / "zero.sql", "INSERT INTO marks VALUES ('zero'); SELECT id, d FROM zero ORDER BY id");
  WriteFile(dir / "latin1.sql", "SELECT t FROM l1 ORDER BY t");
  auto r = RunList(
      "-udl:down.udl -sql:one.sql -tocsv:out/down.csv\n"
      "-udl:badpw.udl -sql:one.sql -tocsv:out/badpw.csv\n"
      "-udl:nodb.udl -sql:one.sql -tocsv:out/nodb.csv\n"
      "-udl:my.udl -sql:timeout.sql -tocsv:out/timeout.csv\n"
      "-udl:my.udl -sql:zero.sql -tocsv:out/zero.csv\n"
      "-udl:my.udl -sql:latin1.sql -tocsv:out/latin1.csv\n",
      "command_timeout=2\nconnection_timeout=5\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::vector<std::string> errors = ErrorLines(r.out);
  const char* expected[] = {
      "line 1", "Can't connect to server on '127.0.0.1'",
      "line 2", "Access denied for user 'u_",
      "line 3", "Unknown database 'missing_",
      "line 4", "The command time-out of 2 s expired and the statement was canceled",
      "line 5", "Column \"d\" holds the zero or incomplete date \"0000-00-00\"",
  };
  ASSERT_EQ(errors.size(), std::size(expected) / 2) << r.out;
  for (size_t k = 0; k < errors.size(); ++k) {
    const std::string& line = errors[k];
    bool found = false;
    for (size_t e = 0; e < std::size(expected); e += 2)
      found = found || (line.find(expected[e]) != std::string::npos &&
                        line.find(expected[e + 1]) != std::string::npos);
    EXPECT_TRUE(found) << line;
  }
  // The password is nowhere: console, log and error files.
  EXPECT_EQ(r.out.find("Secret-Wr0ng"), std::string::npos);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (!entry.is_regular_file() || entry.path().filename() == "badpw.udl") continue;
    EXPECT_EQ(ReadFile(entry.path()).find("Secret-Wr0ng"), std::string::npos) << entry.path();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out/zero.csv"));
  // Bytes of a latin1 column that are no UTF-8 are latin1 characters.
  EXPECT_EQ(ReadFile(dir / "out/latin1.csv"), std::string("\xFF\xFE\xC3\0(\0\r\0\n\0\xE9\0", 12));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM marks")[0][0].i, 0);
  ExpectNothingHeld();
}

TEST_F(MysqlListRunTest, AConnectionKilledWhileRowsStreamFailsItsJob) {
  testing::MysqlAdmin(
      "CREATE TABLE marks (job VARCHAR(20)) ENGINE=InnoDB;"
      "CREATE TABLE n (i INT) ENGINE=InnoDB;"
      "INSERT INTO n VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
      db_);
  // Ten billion rows: the job is still streaming when it is killed.
  WriteFile(dir / "big.sql",
            "INSERT INTO marks VALUES ('killed');"
            "SELECT a.i, b.i, c.i, d.i, e.i, f.i, g.i, h.i, j.i, k.i FROM n a, n b, n c, n d, n e, "
            "n f, n g, n h, n j, n k");
  std::atomic<bool> killed{false};
  std::thread killer([&] {
    for (int tries = 0; tries < 300 && !killed; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      try {
        auto ids = Rows("SELECT id FROM information_schema.processlist WHERE db = '" + db_ +
                        "' AND info LIKE 'SELECT a.i%'");
        if (ids.empty()) continue;
        testing::MysqlAdmin("KILL " + std::to_string(ids[0][0].i));
        killed = true;
      } catch (...) {
      }
    }
  });
  auto r = RunList("-udl:my.udl -sql:big.sql -tocsv:out/big.csv\n");
  killer.join();
  ASSERT_TRUE(killed) << r.out;
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::vector<std::string> errors = ErrorLines(r.out);
  ASSERT_EQ(errors.size(), 1u) << r.out;
  EXPECT_TRUE(errors[0].find("killed") != std::string::npos ||
              errors[0].find("Lost connection") != std::string::npos)
      << errors[0];
  EXPECT_FALSE(std::filesystem::exists(dir / "out/big.csv"));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM marks")[0][0].i, 0);
  ExpectNothingHeld();
}

TEST_F(MysqlListRunTest, ADeadlockFailsOneOfTwoJobs) {
  testing::MysqlAdmin(
      "CREATE TABLE a (v INT) ENGINE=InnoDB; CREATE TABLE b (v INT) ENGINE=InnoDB;"
      "INSERT INTO a VALUES (0); INSERT INTO b VALUES (0)",
      db_);
  WriteFile(dir / "ab.sql", "UPDATE a SET v = 1; DO SLEEP(1); UPDATE b SET v = 1");
  WriteFile(dir / "ba.sql", "UPDATE b SET v = 2; DO SLEEP(1); UPDATE a SET v = 2");
  auto r = RunList("-udl:my.udl -sql:ab.sql\n-udl:my.udl -sql:ba.sql\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::vector<std::string> errors = ErrorLines(r.out);
  ASSERT_EQ(errors.size(), 1u) << r.out;
  EXPECT_NE(errors[0].find("Deadlock found"), std::string::npos) << errors[0];
  // The survivor's values in both tables, nothing of the victim.
  const int64_t a = Rows("SELECT v FROM a")[0][0].i, b = Rows("SELECT v FROM b")[0][0].i;
  EXPECT_EQ(a, b);
  EXPECT_TRUE(a == 1 || a == 2) << a;
  ExpectNothingHeld();
}

TEST_F(MysqlListRunTest, PerRecordSqlRunsWhileRowsStreamAndFailuresRollBack) {
  testing::MysqlAdmin(
      "CREATE TABLE t (id BIGINT UNSIGNED, at DATETIME(3), marked INT DEFAULT 0) ENGINE=InnoDB;"
      "INSERT INTO t (id, at) VALUES (1, '2015-10-08 14:03:05.123'), "
      "(18446744073709551615, '2000-02-29 23:59:59.999')",
      db_);
  WriteFile(dir / "t.sql", "SELECT id, at FROM t ORDER BY id");
  // Typed values from the fields: the exact decimal and the date-time.
  WriteFile(dir / "mark.sql", "UPDATE t SET marked = marked + 1 WHERE id = :id AND at = :at");
  WriteFile(dir / "bad.sql", "INSERT INTO nowhere VALUES (1)");
  auto r = RunList("-udl:my.udl -sql:t.sql -tocsv:out/ok.csv -postrecsql:mark.sql\n"
                   "-udl:my.udl -sql:t.sql -tocsv:out/bad.csv -postrecsql:mark.sql "
                   "-postsql:bad.sql\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::vector<std::string> errors = ErrorLines(r.out);
  ASSERT_EQ(errors.size(), 1u) << r.out;
  EXPECT_NE(errors[0].find("nowhere"), std::string::npos) << errors[0];
  // The first job marked both rows once; the second job's marks are gone.
  EXPECT_EQ(Rows("SELECT SUM(marked) FROM t")[0][0].s, "2");
  ExpectNothingHeld();
}

}  // namespace
}  // namespace ostrevane
