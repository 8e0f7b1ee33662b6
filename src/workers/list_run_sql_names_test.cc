// Names that do not meet, end to end: a -fields name that is no field, a
// parameter value that binds nothing and a placeholder that gets nothing
// fail their job before a file is written, naming both sides; text in
// quotes and comments holds no placeholders, as each database reads it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>

#include "common/text_file.h"
#include "data/dataset.h"
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
const char kTables[] = R"(
CREATE TABLE orders (order_id INTEGER, amount DECIMAL(10,2), ordered_at VARCHAR(20),
                     country VARCHAR(2), note VARCHAR(20), marked INTEGER);
INSERT INTO orders VALUES (1, 10.50, '2025-01-01', 'DE', 'x', 0), (2, 3.00, '2025-01-02', 'FR', 'y', 0),
                          (3, 7.25, '2025-01-03', 'DE', 'z', 0);
CREATE TABLE audit (what VARCHAR(20));
)";

struct Case {
  const char* name;
  std::map<std::string, std::string> files;  // SQL files of the row
  const char* list;                          // the list file, "-udl:db.udl " before each line
  int exit_code;
  const char* text;  // in the program's output
  const char* csv;   // the content of out/o.csv, or nullptr: there is none
};

// Runs each row in a folder of its own; `make_db` creates the tables there
// and returns the connection string.
template <typename MakeDb>
void RunCases(const std::vector<Case>& cases, MakeDb make_db) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    testing::WriteUdlFile(dir / "db.udl", make_db(dir));
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
    for (const auto& [name, text] : c.files) WriteFile(dir / name, text);
    std::string list;
    for (std::string_view rest = c.list; !rest.empty();) {
      const size_t end = rest.find('\n');
      list += "-udl:db.udl " + std::string(rest.substr(0, end)) + "\n";
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    WriteFile(dir / "jobs.txt", list);
    const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, c.exit_code) << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    if (c.csv)  // UTF-16LE with its byte-order mark, the default
      EXPECT_EQ(DecodeText(ReadFile(dir / "out/o.csv").substr(2), TextEncoding::kUtf16Le), c.csv);
    else
      EXPECT_FALSE(std::filesystem::exists(dir / "out/o.csv"));
  }
}

const char kOrders[] = "SELECT order_id, amount, ordered_at FROM orders ORDER BY order_id";
const char kByCountry[] = "SELECT order_id FROM orders WHERE country = :country ORDER BY order_id";

TEST(ListRunSqlNamesTest, FieldsAndParametersOnSqlite) {
  const std::vector<Case> cases = {
      // -fields
      {"a misspelt field",
       {{"o.sql", kOrders}},
       "-sql:o.sql -tocsv:out/o.csv -fields:order_id;amout;ordered_at",
       1,
       "[ERROR]   job 1, line 1: -fields: the result has no field \"amout\" (its fields: "
       "order_id, amount, ordered_at); did you mean \"amount\"?",
       nullptr},
      {"no field right",
       {{"o.sql", kOrders}},
       "-sql:o.sql -tocsv:out/o.csv -fields:x;y",
       1,
       "-fields: the result has no field \"x\" (its fields: order_id, amount, ordered_at)",
       nullptr},
      {"fields in another letter case",
       {{"o.sql", kOrders}},
       "-sql:o.sql -tocsv:out/o.csv -fields:AMOUNT;Order_Id",
       0,
       "Done",
       "10.50;1\r\n3.00;2\r\n7.25;3"},
      {"fields taken from the line above",
       {{"o.sql", kOrders}, {"n.sql", "SELECT order_id, note FROM orders"}},
       "-sql:o.sql -tocsv:out/a.csv -fields:order_id;amount\n-sql:n.sql -tocsv:out/o.csv",
       1,
       "job 2, line 2: -fields (taken from the line above): the result has no field \"amount\" "
       "(its fields: order_id, note)",
       nullptr},
      {"a misspelt --fields line",
       {{"o.sql", std::string("--fields order_id;orderd_at=YYYY\n") + kOrders}},
       "-sql:o.sql -tocsv:out/o.csv",
       1,
       "\"--fields \" line 1 of the SQL: the result has no field \"orderd_at\" (its fields: "
       "order_id, amount, ordered_at); did you mean \"ordered_at\"?",
       nullptr},
      {"fields apply to CSV files only",
       {{"o.sql", kOrders}},
       "-sql:o.sql -toxml:out/o.xml -fields:nothing",
       0,
       "Done",
       nullptr},
      // -params and --param lines
      {"a misspelt parameter",
       {{"c.sql", kByCountry}},
       "-sql:c.sql -tocsv:out/o.csv -params:contry=DE -ifempty:skip",
       1,
       "-params: the SQL has no placeholder \":contry\" (its placeholders: :country); did you "
       "mean \":country\"?",
       nullptr},
      {"a placeholder without a value",
       {{"c.sql", kByCountry}},
       "-sql:c.sql -tocsv:out/o.csv",
       1,
       "the SQL's placeholder \":country\" has no value (give it in -params or on a \"--param \" "
       "line)",
       nullptr},
      {"a statement without placeholders",
       {{"o.sql", kOrders}},
       "-sql:o.sql -tocsv:out/o.csv -params:day=?DATE",
       1,
       "-params: the SQL has no placeholder \":day\" (it has no placeholders)",
       nullptr},
      {"a misspelt --param line",
       {{"c.sql", std::string("--param contry;text;DE\n") + kByCountry}},
       "-sql:c.sql -tocsv:out/o.csv",
       1,
       "\"--param \" line 1 of the SQL: the SQL has no placeholder \":contry\"",
       nullptr},
      {"quotes and comments hold no placeholders",
       {{"c.sql",
         "--fields order_id;ordered_at=HH:NN\n"
         "SELECT order_id, ordered_at FROM orders -- :a don't\n"
         "WHERE note <> ':b' AND \"note\" <> '''' || ':c' /* :d */ AND [country] = :Country\n"
         "ORDER BY order_id"}},
       "-sql:c.sql -tocsv:out/o.csv -params:country=DE",
       0,
       "Done",
       "1;2025-01-01\r\n3;2025-01-03"},
      {"per-record values from -params and fields",
       {{"c.sql", kByCountry}, {"m.sql", "UPDATE orders SET marked = :batch WHERE order_id = :ORDER_ID"}},
       "-sql:c.sql -tocsv:out/o.csv -postrecsql:m.sql -params:country=DE;batch=7",
       0,
       "Post-SQL query for records executed",
       "1\r\n3"},
      {"a per-record placeholder that is no field",
       {{"c.sql", kByCountry}, {"m.sql", "UPDATE orders SET marked = 1 WHERE order_id = :orderid"}},
       "-sql:c.sql -tocsv:out/o.csv -postrecsql:m.sql -params:country=DE",
       1,
       "the per-record SQL's placeholder \":orderid\" has no value (it is no field of the result "
       "and no value is given for it); did you mean \"order_id\"?",
       nullptr},
      {"a value neither statement uses",
       {{"c.sql", kByCountry}, {"m.sql", "UPDATE orders SET marked = :batch WHERE order_id = :order_id"}},
       "-sql:c.sql -tocsv:out/o.csv -postrecsql:m.sql -params:country=DE;bach=7",
       1,
       "-params: neither the SQL nor the per-record SQL has a placeholder \":bach\" (their "
       "placeholders: :country, :batch, :order_id); did you mean \":batch\"?",
       nullptr},
      {"the global post-SQL takes no -params",
       {{"c.sql", kByCountry}, {"p.sql", "INSERT INTO audit VALUES (:what)"}},
       "-sql:c.sql -tocsv:out/o.csv -postsql:p.sql -params:country=DE;what=x",
       1,
       "the global post-SQL's placeholder \":what\" has no value (it takes values only from its "
       "own \"--param \" lines)",
       nullptr},
      {"a misspelt --param line of the global post-SQL",
       {{"c.sql", kByCountry}, {"p.sql", "\n--param wat;text;x\nINSERT INTO audit VALUES (:what)"}},
       "-sql:c.sql -tocsv:out/o.csv -postsql:p.sql -params:country=DE",
       1,
       "\"--param \" line 2 of the global post-SQL: the global post-SQL has no placeholder \":wat\"",
       nullptr},
      {"values taken from the line above need not be used",
       {{"c.sql", "SELECT order_id FROM orders WHERE country = :country AND amount > :min"},
        {"d.sql", kByCountry}},
       "-sql:c.sql -tocsv:out/a.csv -params:country=DE;min=5\n-sql:d.sql -tocsv:out/o.csv",
       0,
       "job 2, line 2: Done",
       "1\r\n3"},
      {"values taken from the line above that miss one",
       {{"c.sql", kByCountry}, {"d.sql", "--param min;n;5\nSELECT order_id FROM orders WHERE amount > :min"}},
       "-sql:c.sql -tocsv:out/a.csv -params:country=DE\n-sql:d.sql -tocsv:out/o.csv",
       1,
       "job 2, line 2: the SQL's placeholder \":min\" has no value (give it in -params; this line "
       "takes the -params of the line above, so its SQL's \"--param \" lines are not read)",
       nullptr},
      // Script jobs
      {"a script value no batch uses",
       {{"s.sql", "INSERT INTO audit VALUES (:what)\ngo\nINSERT INTO audit VALUES (:what || '2')"}},
       "-sql:s.sql -params:what=a;extra=1",
       1,
       "-params: the script has no placeholder \":extra\" (its placeholders: :what)",
       nullptr},
      {"a script reads no --param lines",
       {{"s.sql", "--param what;text;x\nINSERT INTO audit VALUES (:what)"}},
       "-sql:s.sql",
       1,
       "the script's placeholder \":what\" has no value (give it in -params; a script reads no "
       "\"--param \" lines)",
       nullptr},
      {"a value used by the last batch only",
       {{"s.sql", "INSERT INTO audit VALUES ('x')\ngo\nINSERT INTO audit VALUES (:what)\n"}},
       "-sql:s.sql -params:what=a",
       0,
       "Done",
       nullptr},
  };
  RunCases(cases, [](const TempDir& dir) {
    testing::CreateSqliteDatabase(dir / "t.db", kTables);
    return testing::SqliteConnectionString(dir / "t.db");
  });
}

// A server's own quoting: a placeholder in its strings and comments is
// none, and the same mistakes give the same messages as on SQLite.
void RunServerCases(const std::string& cs, const char* quoting) {
  {
    Connection c;
    c.set_connection_string(cs);
    c.Open();
    Query q(c);
    q.SetSql(kTables);
    q.Execute();
  }
  const std::vector<Case> cases = {
      {"quotes and comments hold no placeholders",
       {{"c.sql", quoting}},
       "-sql:c.sql -tocsv:out/o.csv -params:country=DE",
       0,
       "Done",
       "1\r\n3"},
      {"a misspelt parameter",
       {{"c.sql", kByCountry}},
       "-sql:c.sql -tocsv:out/o.csv -params:contry=DE -ifempty:skip",
       1,
       "-params: the SQL has no placeholder \":contry\" (its placeholders: :country); did "
       "you mean \":country\"?",
       nullptr},
      {"a placeholder without a value",
       {{"c.sql", kByCountry}},
       "-sql:c.sql -tocsv:out/o.csv",
       1,
       "the SQL's placeholder \":country\" has no value",
       nullptr},
  };
  RunCases(cases, [&](const TempDir&) { return cs; });
}

TEST(ListRunSqlNamesTest, ParametersOnPostgresql) {
  const std::string cs = testing::FreshPgDatabase();
  if (cs.empty()) GTEST_SKIP() << "no PostgreSQL test cluster (OSTREVANE_PG_PORT unset)";
  RunServerCases(
      cs,
      "SELECT order_id FROM orders WHERE note <> E'it\\'s :a' AND note <> $q$ :b $q$\n"
      "/* /* :c */ :d */ AND note <> $$:e$$ AND \"country\" = :country::text -- :f\n"
      "ORDER BY order_id");
}

TEST(ListRunSqlNamesTest, ParametersOnMariadb) {
  const std::string cs = testing::FreshMysqlDatabase();
  if (cs.empty()) GTEST_SKIP() << "no MariaDB test server (OSTREVANE_MYSQL_PORT unset)";
  // The macro lines reach the server as comments.
  RunServerCases(
      cs,
      "--param country;text;DE\n--fields order_id=HH:NN\n"
      "SELECT order_id FROM orders WHERE note <> 'it\\'s :a' AND note <> \"b\\\" :b\" # :c\n"
      "AND `country` = :country -- :d\n/* :e */ ORDER BY order_id");
}

// A big SQL file whose comments hold millions of colons costs a small
// multiple of its size: comments hold no placeholders, and no copy of the
// text is kept that the run does not need.
TEST(ListRunSqlNamesTest, BigSqlFileWithColonsInCommentsStaysSmall) {
  TempDir dir;
  testing::CreateSqliteDatabase(dir / "t.db", "CREATE TABLE t (x INTEGER)");
  testing::WriteUdlFile(dir / "db.udl", testing::SqliteConnectionString(dir / "t.db"));
  WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
  std::string line = "--";
  for (int i = 0; i < 20; ++i) line += " :ab,";
  line += "\n";
  std::string sql;
  constexpr size_t kSize = 40u << 20;
  sql.reserve(kSize + 64);
  while (sql.size() < kSize) sql += line;  // 8 million placeholders in comments
  sql += "SELECT 1 AS one";
  WriteFile(dir / "big.sql", sql);
  WriteFile(dir / "jobs.txt", "-udl:db.udl -sql:big.sql -tocsv:out/o.csv\n");

  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(DecodeText(ReadFile(dir / "out/o.csv").substr(2), TextEncoding::kUtf16Le), "1");
  // The list's job, the worker's copy and the statement hold the text: 3x,
  // plus the program itself. Before, a placeholder cost over 100 bytes.
  const long peak_mib = usage.ru_maxrss / 1024;  // ru_maxrss is in KiB
  if (!testing::kSanitizedBuild) {
    EXPECT_LT(peak_mib, 5 * 40 + 60) << "peak RSS " << peak_mib << " MiB for a 40 MiB SQL file";
  }
}

}  // namespace
}  // namespace ostrevane
