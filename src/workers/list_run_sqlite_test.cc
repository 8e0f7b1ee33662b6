// Jobs of one run on one SQLite file, end to end: readers share the file,
// writers take turns, and none of them fails for waiting longer than the
// busy time-out. A slow HTTP delivery keeps each job in its transaction.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/server_process.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::ServerProcess;
using testing::TempDir;
using testing::WriteFile;

TEST(ListRunSqliteTest, ReadersShareTheFileAndWritersTakeTurnsWithoutFailing) {
  // Every delivery takes longer than the busy time-out of 1 s, so a job
  // that waited for the file in SQLite instead of in its turn would fail.
  struct {
    const char* name;
    const char* options;  // what makes the job a reader or a writer
    const char* max_concurrent;
    const char* rows_written;
  } cases[] = {
      {"readers", "", "3", "0"},
      {"writers by global post-SQL", "-postsql:insert.sql", "1", "3"},
      {"writers by per-record post-SQL", "-postrecsql:insert.sql", "1", "6"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'one'), (2, 'two');
      CREATE TABLE runs (n INTEGER);)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    WriteFile(dir / "insert.sql", "INSERT INTO runs VALUES (1)");
    std::filesystem::create_directories(dir / "http");
    ServerProcess http("http_server.py",
                       {"--out", dir / "http", "--plan", "slow", "--delay", "1.2"});
    WriteFile(
        dir / "settings.ini",
        "[Ostrevane]\nthread_count=3\nconnection_timeout=1\n[HTTP]\nServer=http://127.0.0.1:" +
            std::to_string(http.port()) + "/in\n");
    std::string list;
    for (int i = 1; i <= 3; ++i)
      list += "-clear -udl:t.udl -sql:items.sql -tocsv:out/" + std::to_string(i) + ".csv -http " +
              c.options + "\n";
    WriteFile(dir / "jobs.txt", list);

    const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(r.out.find("[ERROR]"), std::string::npos) << c.name << "\n" << r.out;
    EXPECT_EQ(ReadFile(dir / "http/max-concurrent"), c.max_concurrent) << c.name;
    EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT count(*) FROM runs"),
              (std::vector<std::vector<std::string>>{{c.rows_written}}))
        << c.name;
  }
}

}  // namespace
}  // namespace ostrevane
