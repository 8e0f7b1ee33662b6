// Text outside ASCII exported through the PostgreSQL and MariaDB ODBC
// drivers by a program started under the locales a scheduler gives (the C
// locale; C character type with the date formats of another locale): every
// character arrives, and the dates keep the formats of the locale that
// chose them.
#include <gtest/gtest.h>

#include <map>

#include "common/format_settings.h"
#include "data/connection_string.h"
#include "data/dataset.h"
#include "testing/mysql_server.h"
#include "testing/odbc_drivers.h"
#include "testing/pg_server.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const char kText[] = "Grüße 日本 😀";

void Execute(const std::string& cs, const std::string& sql) {
  Connection c;
  c.set_connection_string(cs);
  c.Open();
  Query q(c);
  q.SetSql(sql);
  q.Execute();
}

TEST(OdbcTextListRunTest, EveryCharacterArrivesUnderASchedulersLocale) {
  TempDir dir;
  std::vector<std::string> sources;
  const std::string table = std::string("CREATE TABLE u (s VARCHAR(20), t TEXT, d DATE);") +
                            "INSERT INTO u VALUES ('" + kText + "', '" + kText +
                            "', '2015-10-08')";
  const std::string pg = testing::FreshPgDatabase();
  const std::string pg_driver = testing::OdbcDriver("PostgreSQL Unicode", "psqlodbcw.so");
  if (!pg.empty() && !pg_driver.empty()) {
    Execute(pg, table);
    testing::WriteUdlFile(dir / "pg.udl",
                          "Provider=MSDASQL;Driver={" + pg_driver +
                              "};Servername=127.0.0.1;Port=" + testing::PgPort() + ";Database=" +
                              ConnectionString(pg).Get("Initial Catalog") + ";UID=postgres");
    sources.push_back("pg");
  }
  const std::string my = testing::FreshMysqlDatabase();
  const std::string my_driver = testing::OdbcDriver("MariaDB Unicode", "libmaodbc.so");
  if (!my.empty() && !my_driver.empty()) {
    testing::MysqlAdmin(table, ConnectionString(my).Get("Initial Catalog"));
    testing::WriteUdlFile(dir / "my.udl",
                          "Provider=MSDASQL;Driver={" + my_driver + "};Server=127.0.0.1;Port=" +
                              testing::MysqlPort() + ";Database=" +
                              ConnectionString(my).Get("Initial Catalog") + ";UID=root");
    sources.push_back("my");
  }
  if (sources.empty()) GTEST_SKIP() << "no PostgreSQL or MariaDB test server with its driver";
  WriteFile(dir / "u.sql", "SELECT s, t, d FROM u");
  WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=2\n");
  std::string list;
  for (const std::string& name : sources)
    list += "-clear -udl:" + name + ".udl -sql:u.sql -tocsv:" + name + ".csv -csvcp:0 -csvformat:,\n";
  WriteFile(dir / "jobs.txt", list);

  struct {
    const char* what;
    std::map<std::string, std::string> env;
    const char* date;
  } cases[] = {
      {"LC_ALL=C", {{"LC_ALL", "C"}}, "2015-10-08"},
      {"C character type, German dates",
       {{"LC_ALL", ""}, {"LANG", "C"}, {"LC_CTYPE", "C"}, {"LC_TIME", "de_DE.UTF-8"}},
       "08.10.2015"},
  };
  for (const auto& row : cases) {
    if (row.env.count("LC_TIME") && !LocaleIsInstalled(row.env.at("LC_TIME"))) continue;
    auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path(), row.env);
    ASSERT_EQ(r.exit_code, 0) << row.what << "\n" << r.out;
    for (const std::string& name : sources)
      EXPECT_EQ(ReadFile(dir / (name + ".csv")),
                std::string(kText) + "," + kText + "," + row.date + " 00:00:00")
          << row.what << " " << name;
  }
}

}  // namespace
}  // namespace ostrevane
