// Connection values from the environment, end to end against PostgreSQL
// with a role that must give its password: "${NAME}" and "${file:PATH}" in
// a data-link file connect, and the password shows in no output (console,
// log and error files, RESULT.json and its kept copy, the metrics file,
// -check), not even when it is wrong.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/text.h"
#include "data/dataset.h"
#include "testing/database.h"
#include "testing/pg_server.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A ";" and a quote: values go into the connection string whole.
constexpr char kPassword[] = "Sekr;3t\"Pw-71";
constexpr char kWrongPassword[] = "Wr0ng;Secret-42";

TEST(ListRunEnvironmentTest, PasswordsFromTheEnvironmentAndSecretFilesConnectAndNeverShow) {
  const std::string cs = testing::FreshPgDatabase();
  if (cs.empty()) GTEST_SKIP() << "no PostgreSQL test cluster (OSTREVANE_PG_PORT unset)";
  const std::string db =
      cs.substr(cs.find("Catalog=") + 8, cs.find(";User") - cs.find("Catalog=") - 8);
  const std::string role = "pw_" + db;
  testing::PgAdmin("CREATE ROLE " + role + " LOGIN PASSWORD '" + kPassword +
                   "' IN ROLE password_login");
  {
    Connection admin;
    admin.set_connection_string(cs);
    admin.Open();
    testing::ExecSql(admin, "CREATE TABLE items (id INTEGER)");
    testing::ExecSql(admin, "INSERT INTO items VALUES (1), (2)");
    testing::ExecSql(admin, "GRANT SELECT ON items TO " + role);
  }

  TempDir dir;
  const std::string base =
      "Provider=PostgreSQL;Data Source=127.0.0.1:${OSTREVANE_TEST_PG_PORT};"
      "Initial Catalog=" +
      db + ";User ID=${OSTREVANE_TEST_PG_USER};";
  WriteFile(dir / "env.udl", base + "Password=${OSTREVANE_TEST_PG_PASSWORD}");
  WriteFile(dir / "file.udl", base + "Password=${file:secrets/pg}");
  WriteFile(dir / "wrong.udl", base + "Password=${OSTREVANE_TEST_PG_WRONG}");
  WriteFile(dir / "secrets/pg", std::string(kPassword) + "\n");
  WriteFile(dir / "items.sql", "SELECT id FROM items ORDER BY id");
  WriteFile(dir / "settings.ini",
            "[Ostrevane]\nthread_count=2\nlog_encoding=utf-8\nmetrics_file=metrics/o.prom\n");
  std::filesystem::create_directories(dir / "metrics");
  WriteFile(dir / "jobs.txt",
            "-udl:env.udl -sql:items.sql -csvcp:0 -tocsv:out/env.csv\n"
            "-udl:file.udl -tocsv:out/file.csv\n"
            "-udl:wrong.udl -tocsv:out/wrong.csv\n");
  const std::map<std::string, std::string> env = {{"OSTREVANE_TEST_PG_PORT", testing::PgPort()},
                                                  {"OSTREVANE_TEST_PG_USER", role},
                                                  {"OSTREVANE_TEST_PG_PASSWORD", kPassword},
                                                  {"OSTREVANE_TEST_PG_WRONG", kWrongPassword}};

  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path(), env);
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(ReadFile(dir / "out/env.csv"), "1\r\n2");
  EXPECT_EQ(ReadFile(dir / "out/file.csv"), "1\r\n2");
  EXPECT_NE(r.out.find("job 3, line 3: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("password authentication failed"), std::string::npos) << r.out;

  const auto check = testing::RunProgram({"-list:jobs.txt", "-check"}, dir.path(), dir.path(), env);
  EXPECT_EQ(check.exit_code, 0) << check.out;
  // A connection string shows as written, its password masked.
  EXPECT_NE(check.out.find("  connection     Provider=PostgreSQL;Data Source=127.0.0.1:${"
                           "OSTREVANE_TEST_PG_PORT};Initial Catalog=" +
                           db + ";User ID=${OSTREVANE_TEST_PG_USER};Password=***\n"),
            std::string::npos)
      << check.out;

  std::string all = r.out + check.out + ReadFile(dir / "metrics/o.prom");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "log")) {
    all += ReadFile(e.path().string());
    names.push_back(e.path().filename().string());
  }
  EXPECT_EQ(names.size(), 5u);  // log, error file, RESULT.TXT, RESULT.json and its kept copy
  for (const char* secret : {kPassword, kWrongPassword, "Sekr", "Wr0ng"})
    EXPECT_EQ(all.find(secret), std::string::npos) << secret << "\n" << all;

  // A variable that is not set stops the run before any job, named.
  WriteFile(dir / "jobs.txt", "-udl:env.udl -sql:items.sql -tocsv:out/env.csv\n");
  const auto unset = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path(),
                                         {{"OSTREVANE_TEST_PG_PORT", testing::PgPort()}});
  EXPECT_EQ(unset.exit_code, 2) << unset.out;
  EXPECT_NE(unset.out.find("jobs.txt, line 1: option -udl: " + dir / "env.udl" +
                           ": the environment variable OSTREVANE_TEST_PG_USER is not set "
                           "(${OSTREVANE_TEST_PG_USER})"),
            std::string::npos)
      << unset.out;
}

}  // namespace
}  // namespace ostrevane
