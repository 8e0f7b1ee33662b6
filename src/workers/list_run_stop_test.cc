// Stopping runs, end to end on the executable: a signal ends a run within
// 2 s wherever its job is (an export from SQLite, PostgreSQL or MariaDB, a
// delivery to a server that stalls, a server that froze), leaves no file
// behind and never lets the last run's "OK" stand; a second signal ends it
// at once; job_timeout ends a job whose server froze; two processes share
// one SQLite file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "data/dataset.h"
#include "testing/database.h"
#include "testing/mysql_server.h"
#include "testing/pg_server.h"
#include "testing/private_server.h"
#include "testing/run_program.h"
#include "testing/server_process.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kEndedEarly[] = "The run ended before this job could be committed";

// How a started run ended.
struct Ending {
  bool exited = false;  // by itself: not killed, and within the limit
  int status = -1;      // its exit status
  double seconds = 0;   // from `since` to its end
};

// Waits at most `limit` after `since` for `pid` to end; kills it when it
// does not.
Ending WaitEnd(pid_t pid, Clock::time_point since, milliseconds limit) {
  Ending e;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - since > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      e.seconds = std::chrono::duration<double>(Clock::now() - since).count();
      return e;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  e.seconds = std::chrono::duration<double>(Clock::now() - since).count();
  e.exited = WIFEXITED(status);
  e.status = e.exited ? WEXITSTATUS(status) : -1;
  return e;
}

bool WaitUntil(const std::function<bool()>& ready, milliseconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

// The names of the files in `folder` (none when it does not exist).
std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.insert(e.path().filename().string());
  return names;
}

// A file in `folder` that has grown past `bytes`: an export under way.
bool FileGrew(const std::string& folder, uintmax_t bytes) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    if (e.is_regular_file(ec) && e.file_size(ec) > bytes) return true;
  return false;
}

class StopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'x'), (2, 'y');
      CREATE TABLE runs (n INTEGER);)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    Settings("");
  }

  void Settings(const std::string& more) {
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=2\ncommand_timeout=600\n" + more);
  }

  // Starts a list run of `list` in the test folder.
  pid_t Start(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  // Starts `list`, waits until its export has written a megabyte to
  // out/, and returns the run's process.
  pid_t StartExport(const std::string& list) {
    const pid_t pid = Start(list);
    const bool growing =
        WaitUntil([&] { return FileGrew(dir / "out", 1 << 20); }, milliseconds(60000));
    if (!growing) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      ADD_FAILURE() << "the export did not start";
      return -1;
    }
    return pid;
  }

  std::string Result() { return ReadFile(dir / "log/RESULT.TXT"); }
  std::string Report() { return ReadFile(dir / "log/RESULT.json"); }

  TempDir dir;
};

// Whether process `pid` blocks SIGTERM: the program has begun to run.
bool HoldsSigterm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigBlk:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

// A signal as early as a scheduler may send it, again and again: from the
// program's first instruction (before that, only the system's loader runs,
// for some milliseconds) through its start to its first job. The run
// always takes it (exit 1 or 2, never killed by it), and whenever it did
// not finish, the last run's "OK" and exit status 0 are gone.
TEST_F(StopTest, EarlySignalsNeverLeaveTheLastRunsOk) {
  const std::string list = "-udl:t.udl -sql:items.sql -tocsv:out/items.csv\n";
  for (int delay_ms : {0, 0, 1, 2, 5, 10, 10, 10, 20, 30, 50}) {
    WriteFile(dir / "log/RESULT.TXT", "OK");
    WriteFile(dir / "log/RESULT.json", "{\"exit_status\": 0}");
    const pid_t pid = Start(list);
    const Clock::time_point give_up = Clock::now() + milliseconds(10000);
    while (!HoldsSigterm(pid) && Clock::now() < give_up) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(delay_ms));
    kill(pid, SIGTERM);
    const Ending e = WaitEnd(pid, Clock::now(), milliseconds(10000));
    ASSERT_TRUE(e.exited) << delay_ms << " ms";
    if (e.status == 0) {  // done before the signal came
      EXPECT_EQ(Result(), "OK") << delay_ms;
      continue;
    }
    EXPECT_TRUE(e.status == 1 || e.status == 2) << e.status;
    EXPECT_EQ(Result(), "ERROR") << delay_ms;
    EXPECT_EQ(Report().find("\"exit_status\": 0"), std::string::npos) << delay_ms << Report();
  }
}

// SIGTERM or SIGINT in the middle of an export ends the run within 2 s on
// every backend: the statement is canceled, the writer stops at the next
// row and removes its temporary file, the job rolls back.
TEST_F(StopTest, SignalMidExportEndsTheRunWithin2sLeavingNoFile) {
  struct Source {
    const char* name;
    std::string connection;  // empty: skipped
    std::string sql;
    int signal_number;
    // False for a driver that reads the whole result before handing out
    // the first row: the signal then comes while it reads.
    bool streams = true;
  };
  std::vector<Source> sources = {
      {"sqlite", testing::SqliteConnectionString("t.db"),
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
       "SELECT x, 'a row of some length to fill the file' FROM c",
       SIGTERM},
      {"postgres", testing::FreshPgDatabase(),
       "SELECT generate_series(1, 100000000) AS g, repeat('x', 40)", SIGINT},
      {"mariadb", testing::FreshMysqlDatabase(),
       "SELECT seq, REPEAT('x', 40) FROM seq_1_to_100000000", SIGTERM},
  };
  if (!testing::MysqlPort().empty() && testing::OdbcDriverRegistered("MariaDB Unicode"))
    sources.push_back({"mariadb over odbc",
                       "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=" +
                           testing::MysqlPort() + ";UID=root;Database=mysql",
                       "SELECT seq, REPEAT('x', 40) FROM seq_1_to_100000000", SIGTERM, false});
  for (const Source& s : sources) {
    if (s.connection.empty()) continue;  // no such server in this test run
    SCOPED_TRACE(s.name);
    std::filesystem::remove_all(dir / "out");
    std::filesystem::remove_all(dir / "log");
    testing::WriteUdlFile(dir / "s.udl", s.connection);
    WriteFile(dir / "big.sql", s.sql);
    const std::string list = "-udl:s.udl -sql:big.sql -tocsv:out/big.csv\n";
    pid_t pid = -1;
    if (s.streams) {
      pid = StartExport(list);
      if (pid < 0) continue;
    } else {
      pid = Start(list);
      std::this_thread::sleep_for(milliseconds(2000));
    }
    const Clock::time_point sent = Clock::now();
    kill(pid, s.signal_number);
    const Ending e = WaitEnd(pid, sent, milliseconds(10000));
    EXPECT_TRUE(e.exited);
    EXPECT_LT(e.seconds, 2.0);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{});
    EXPECT_EQ(Result(), "ERROR");
    EXPECT_NE(Report().find(kEndedEarly), std::string::npos) << Report();
  }
}

// A delivery to a server that takes the request and never answers is
// aborted: the run ends within 2 s, and the written file is all that is
// left.
TEST_F(StopTest, SignalMidDeliveryEndsTheRunWithin2s) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  std::filesystem::create_directories(dir / "http");
  testing::ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "hang"});
  Settings("[HTTP]\nServer=http://127.0.0.1:" + std::to_string(http.port()) + "/in\n");
  const pid_t pid = Start("-udl:t.udl -sql:items.sql -tocsv:out/items.csv -http\n");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "http/req-1.head"); },
                        milliseconds(20000)));
  const Clock::time_point sent = Clock::now();
  kill(pid, SIGTERM);
  const Ending e = WaitEnd(pid, sent, milliseconds(10000));
  EXPECT_TRUE(e.exited);
  EXPECT_LT(e.seconds, 2.0);
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(Result(), "ERROR");
  EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{"items.csv"});
  EXPECT_NE(Report().find(kEndedEarly), std::string::npos) << Report();
}

// A signal while a file goes to an FTP server that then hangs at the
// removal of the temporary file: the removal is tried for a moment only, the
// run ends within seconds, and the job's error names the file left there.
TEST_F(StopTest, SignalMidFtpStoreNamesTheTemporaryFileLeftOnTheServer) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  std::filesystem::create_directories(dir / "ftp");
  std::filesystem::create_directories(dir / "ftp-root");
  testing::ServerProcess ftp("ftp_server.py",
                             {"--out", dir / "ftp", "--root", dir / "ftp-root", "--anonymous",
                              "--slow-stor", "0.05", "--hang-on-dele", "8"});
  Settings("[FTP]\nServer=127.0.0.1:" + std::to_string(ftp.port()) + "\n");
  WriteFile(dir / "many.sql",
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
            "SELECT i, printf('%050d', i) AS pad FROM n");
  const pid_t pid = Start("-udl:t.udl -sql:many.sql -tocsv:out/many.csv -ftp\n");
  ASSERT_TRUE(WaitUntil([&] { return FileGrew(dir / "ftp-root", 0); }, milliseconds(60000)));
  const Clock::time_point sent = Clock::now();
  kill(pid, SIGTERM);
  const Ending e = WaitEnd(pid, sent, milliseconds(10000));
  EXPECT_TRUE(e.exited);
  EXPECT_LT(e.seconds, 6.0);
  EXPECT_EQ(e.status, 1);
  const std::set<std::string> left = FilesIn(dir / "ftp-root");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left.begin()->rfind(".many.csv.part-", 0), 0u) << *left.begin();
  EXPECT_NE(Report().find(std::string(kEndedEarly) + "; the partial file " + *left.begin() +
                          " could not be removed from the server (the server did not answer in "
                          "time)"),
            std::string::npos)
      << Report();
}

// Two processes of a -part run on one SQLite file: a writing job waits for
// the other process's transaction as long as command_timeout allows (not
// connection_timeout, as before), and fails naming the wait only beyond it.
// Each job holds the file for 2 s: it delivers to a slow HTTP server before
// its -postsql and its commit.
TEST_F(StopTest, TwoProcessesShareOneSqliteFile) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  std::filesystem::create_directories(dir / "http");
  testing::ServerProcess http("http_server.py",
                              {"--out", dir / "http", "--plan", "slow", "--delay", "2"});
  WriteFile(dir / "mark.sql", "INSERT INTO runs VALUES (1)");
  WriteFile(dir / "jobs.txt",
            "-udl:t.udl -sql:items.sql -tocsv:out/?GUID.csv -http -postsql:mark.sql\n"
            "-sql:items.sql\n-sql:items.sql\n-sql:items.sql\n");
  struct {
    int command_timeout;
    bool both_done;
  } cases[] = {{30, true}, {1, false}};
  auto marked = [&] {
    return std::stoi(testing::SqliteRows(dir / "t.db", "SELECT COUNT(*) FROM runs")[0][0]);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command_timeout);
    std::filesystem::remove_all(dir / "log");
    const int marked_before = marked();
    WriteFile(dir / "settings.ini",
              "[Ostrevane]\nthread_count=1\nconnection_timeout=1\n"
              "command_timeout=" +
                  std::to_string(c.command_timeout) +
                  "\n[HTTP]\nServer=http://127.0.0.1:" + std::to_string(http.port()) + "/in\n");
    const pid_t one =
        testing::StartProgram({"-list:jobs.txt", "-part:1/2"}, dir.path(), dir.path());
    const pid_t two =
        testing::StartProgram({"-list:jobs.txt", "-part:2/2"}, dir.path(), dir.path());
    const Clock::time_point start = Clock::now();
    const Ending a = WaitEnd(one, start, milliseconds(120000));
    const Ending b = WaitEnd(two, start, milliseconds(120000));
    const std::string reports =
        ReadFile(dir / "log/RESULT.1of2.json") + ReadFile(dir / "log/RESULT.2of2.json");
    EXPECT_EQ(a.exited && a.status == 0 && b.exited && b.status == 0, c.both_done) << reports;
    EXPECT_EQ(reports.find("gave up after waiting 1 s") != std::string::npos, !c.both_done)
        << reports;
    // Every job marks once when it commits; a failed one rolled back.
    if (c.both_done)
      EXPECT_EQ(marked() - marked_before, 4);
    else
      EXPECT_LT(marked() - marked_before, 4);
  }
}

// Servers of the test's own that freeze (SIGSTOP) in the middle of a
// result: job_timeout fails the job, naming the limit, within the limit
// and a few seconds; a signal ends the run within 2 s.
class FrozenServerTest : public StopTest {
 protected:
  // Runs both cases against the server behind `udl`, which `server`
  // freezes.
  void ExpectFrozenExportsEnd(testing::PrivateServer& server, const std::string& sql) {
    WriteFile(dir / "big.sql", sql);
    const std::string list = "-udl:s.udl -sql:big.sql -tocsv:out/big.csv\n";
    {
      SCOPED_TRACE("job_timeout");
      Settings("job_timeout=6\n");
      const Clock::time_point start = Clock::now();
      const pid_t pid = StartExport(list);
      ASSERT_GT(pid, 0);
      server.Freeze();
      const Ending e = WaitEnd(pid, start, milliseconds(30000));
      server.Thaw();
      EXPECT_TRUE(e.exited);
      EXPECT_LT(e.seconds, 6 + 3.0);
      EXPECT_EQ(e.status, 1);
      EXPECT_NE(Report().find("Timed out: the job took longer than the job_timeout of 6 s"),
                std::string::npos)
          << Report();
      EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{});
    }
    {
      SCOPED_TRACE("signal");
      Settings("");
      std::filesystem::remove_all(dir / "log");
      const pid_t pid = StartExport(list);
      ASSERT_GT(pid, 0);
      server.Freeze();
      std::this_thread::sleep_for(milliseconds(300));
      const Clock::time_point sent = Clock::now();
      kill(pid, SIGTERM);
      const Ending e = WaitEnd(pid, sent, milliseconds(30000));
      server.Thaw();
      EXPECT_TRUE(e.exited);
      EXPECT_LT(e.seconds, 2.0);
      EXPECT_EQ(e.status, 1);
      EXPECT_NE(Report().find(kEndedEarly), std::string::npos) << Report();
      EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{});
    }
  }
};

TEST_F(FrozenServerTest, PostgreSql) {
  testing::PrivatePgServer server;
  if (!server.running()) GTEST_SKIP() << server.error();
  testing::WriteUdlFile(dir / "s.udl", server.ConnectionString());
  ExpectFrozenExportsEnd(server, "SELECT generate_series(1, 100000000) AS g, repeat('x', 40)");
}

TEST_F(FrozenServerTest, MariaDb) {
  testing::PrivateMariadbServer server;
  if (!server.running()) GTEST_SKIP() << server.error();
  {
    Connection admin;
    admin.set_connection_string(server.ConnectionString());
    admin.Open();
    testing::ExecSql(admin, "CREATE DATABASE t");
  }
  testing::WriteUdlFile(dir / "s.udl", server.ConnectionString("t"));
  ExpectFrozenExportsEnd(server, "SELECT seq, REPEAT('x', 40) FROM seq_1_to_100000000");
}

// A driver that waits for the frozen server in its own cancel cannot be
// freed by the program: the run ends at once on a second signal, and by
// itself ten seconds after the first.
TEST_F(FrozenServerTest, AJobNothingFreesEndsOnASecondSignalOrAfterTenSeconds) {
  if (!testing::OdbcDriverRegistered("PostgreSQL Unicode"))
    GTEST_SKIP() << "the PostgreSQL ODBC driver is not registered";
  testing::PrivatePgServer server;
  if (!server.running()) GTEST_SKIP() << server.error();
  testing::WriteUdlFile(dir / "s.udl",
                        "Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" +
                            std::to_string(server.port()) + ";Database=postgres;UID=postgres");
  WriteFile(dir / "big.sql", "SELECT generate_series(1, 100000000) AS g, repeat('x', 40)");
  for (bool twice : {true, false}) {
    SCOPED_TRACE(twice ? "two signals" : "one signal");
    std::filesystem::remove_all(dir / "log");
    const pid_t pid = StartExport("-udl:s.udl -sql:big.sql -tocsv:out/big.csv\n");
    ASSERT_GT(pid, 0);
    server.Freeze();
    const Clock::time_point first = Clock::now();
    kill(pid, SIGTERM);
    Clock::time_point since = first;
    if (twice) {
      std::this_thread::sleep_for(milliseconds(2500));
      ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the driver gave up by itself";
      since = Clock::now();
      kill(pid, SIGINT);
    }
    const Ending e = WaitEnd(pid, since, milliseconds(30000));
    server.Thaw();
    EXPECT_TRUE(e.exited);
    EXPECT_EQ(e.status, 1);
    if (twice)
      EXPECT_LT(e.seconds, 0.5);
    else
      EXPECT_NEAR(e.seconds, 10.0, 1.5);
    EXPECT_EQ(Result(), "ERROR");
    EXPECT_NE(Report().find("\"exit_status\": null"), std::string::npos) << Report();
    std::filesystem::remove_all(dir / "out");  // the abandoned writer's temporary file
  }
}

}  // namespace
}  // namespace ostrevane
