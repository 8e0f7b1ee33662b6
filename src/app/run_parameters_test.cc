// -params beside -list, end to end: a value for every job that a job's own
// -params replaces and that stands above its SQL's "--param " lines; a job
// whose statements do not use it still runs, while a job's own unused value
// is still a mistake; -check shows the values in force.
#include <gtest/gtest.h>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct RunParametersTest : ::testing::Test {
  TempDir dir;
  RunParametersTest() {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, kind VARCHAR(1));
      INSERT INTO items VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'c');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "by_kind.sql", "SELECT id FROM items WHERE kind = :kind ORDER BY id");
    WriteFile(dir / "all.sql", "SELECT id FROM items ORDER BY id");
    WriteFile(dir / "with_line.sql",
              "--param kind;string;a\n--param low;integer;2\n"
              "SELECT id FROM items WHERE kind = :kind AND id >= :low ORDER BY id");
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
    WriteFile(dir / "jobs.txt",
              "-udl:t.udl -sql:by_kind.sql -csvcp:0 -tocsv:out/run.csv\n"
              "-tocsv:out/own.csv -params:kind=b\n"
              "-clear -udl:t.udl -sql:all.sql -csvcp:0 -tocsv:out/unused.csv\n"
              "-sql:with_line.sql -tocsv:out/line.csv\n");
  }
  testing::ProgramResult Run(std::vector<std::string> args,
                             const std::map<std::string, std::string>& env = {}) {
    return testing::RunProgram(args, dir.path(), dir.path(), env);
  }
};

TEST_F(RunParametersTest, RunValuesFillEveryJobBelowItsOwnAndAboveItsSqlLines) {
  auto r = Run({"-list:jobs.txt", "-params:kind=c", "-params:unused=1"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  struct {
    const char* file;
    const char* rows;
  } cases[] = {
      {"out/run.csv", "3\r\n4"},               // the run's value
      {"out/own.csv", "2"},                    // the job's own -params replace it
      {"out/unused.csv", "1\r\n2\r\n3\r\n4"},  // no placeholder: no mistake
      {"out/line.csv", "3\r\n4"},              // above the SQL's "--param kind", beside its "low"
  };
  for (const auto& row : cases) EXPECT_EQ(ReadFile(dir / row.file), row.rows) << row.file;

  // A job's own value that its SQL does not use is still a mistake.
  WriteFile(dir / "jobs.txt",
            ReadFile(dir / "jobs.txt") + "-sql:all.sql -tocsv:out/x.csv -params:regoin=n\n");
  r = Run({"-list:jobs.txt", "-params:kind=c"});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("job 5, line 5: -params: the SQL has no placeholder \":regoin\" (it has no "
                       "placeholders)"),
            std::string::npos)
      << r.out;
}

// -check shows each job's values in force, where they come from, secrets
// masked and "${...}" as written.
TEST_F(RunParametersTest, CheckShowsTheValuesInForce) {
  auto r =
      Run({"-list:jobs.txt", "-params:kind=${OSTREVANE_TEST_KIND};api_token=T0ken-Leak", "-check"},
          {{"OSTREVANE_TEST_KIND", "c"}});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string from_run = " (-params beside -list)";
  const std::vector<std::string> lines = SplitLines(r.out);
  std::vector<std::string> params;
  for (const std::string& line : lines)
    if (line.starts_with("job ") || line.starts_with("  param"))
      params.push_back(line.starts_with("job ") ? line.substr(0, line.find(',')) : Trim(line));
  EXPECT_EQ(params, (std::vector<std::string>{
                        "job 1",
                        "param          kind = ${OSTREVANE_TEST_KIND}" + from_run,
                        "param          api_token = ***" + from_run,
                        "job 2",
                        "param          kind = b",
                        "param          api_token = ***" + from_run,
                        "job 3",
                        "param          kind = ${OSTREVANE_TEST_KIND}" + from_run,
                        "param          api_token = ***" + from_run,
                        "job 4",
                        "param          low = 2 (\"--param \" line 2 of the SQL)",
                        "param          kind = ${OSTREVANE_TEST_KIND}" + from_run,
                        "param          api_token = ***" + from_run,
                    }));
  EXPECT_EQ(r.out.find("T0ken-Leak"), std::string::npos) << r.out;
  // An unset variable is a mistake of the command line, named.
  r = Run({"-list:jobs.txt", "-params:kind=${OSTREVANE_TEST_NONE}"});
  EXPECT_EQ(r.exit_code, 2) << r.out;
  EXPECT_NE(r.out.find("Exception: option -params: the environment variable OSTREVANE_TEST_NONE "
                       "is not set (${OSTREVANE_TEST_NONE})"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace ostrevane
