// What schedulers and fleets rely on, end to end on the executable: the
// run report RESULT.json (read back by Python's json module), -ifempty,
// -part over several processes at once, and UTF-8 logs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "common/json_reader.h"
#include "common/sha256.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Rows = std::vector<std::vector<std::string>>;

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

class SchedulerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, region VARCHAR(5), name VARCHAR(20), marked INTEGER);
      INSERT INTO items VALUES (1, 'A', 'x', 0), (2, 'A', 'y;z', 0), (3, 'B', 'q"q', 0);
      CREATE TABLE runs (n INTEGER);)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, region, name FROM items ORDER BY id");
    WriteFile(dir / "settings.ini", "[Ostrevane]\r\nthread_count=1\r\ncommand_timeout=600\r\n");
  }

  testing::ProgramResult RunList(const std::string& list, std::vector<std::string> more = {}) {
    WriteFile(dir / "jobs.txt", list);
    more.insert(more.begin(), "-list:jobs.txt");
    return testing::RunProgram(more, dir.path(), dir.path());
  }

  // Runs `script` with /usr/bin/python3 in the test folder; "" when it
  // exits 0, else what it printed.
  std::string Python(const std::string& script) {
    WriteFile(dir / "check.py", script);
    const std::string cmd = "cd " + dir.path() + " && /usr/bin/python3 check.py > check.out 2>&1";
    if (std::system(cmd.c_str()) == 0) return "";
    return "python: " + ReadFile(dir / "check.out");
  }

  Rows Db(const std::string& sql) { return testing::SqliteRows(dir / "t.db", sql); }

  TempDir dir;
};

// The report of a run with a done, a failed, a stopped and a not-run job,
// read by a real JSON parser and checked field by field; the files' sizes
// and checksums against the files themselves.
TEST_F(SchedulerRunTest, ReportDescribesEveryJobOfAStoppedRun) {
  if (!FileExists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  // A control character in the error message, which JSON must escape.
  WriteFile(dir / "bad.sql", "SELECT * FROM \"no\x01pe\" WHERE p = :password AND x = :x");
  WriteFile(dir / "slow.sql",
            "UPDATE items SET marked = 1\r\ngo\r\n"
            "SELECT COUNT(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < 3000000) SELECT x FROM c)\r\n");
  WriteFile(dir / "jobs.txt",
            "# four jobs\r\n"
            "-udl:t.udl -sql:items.sql -tocsv:out/:REGION.csv -toxml:out/all.xml\r\n"
            "-clear -udl:t.udl -sql:bad.sql -tocsv:out/bad.csv -params:password=s3cret;x=1\r\n"
            "\r\n"
            "-clear -udl:t.udl -sql:slow.sql\r\n"
            "-clear -udl:t.udl -sql:items.sql -tocsv:out/never.csv\r\n");
  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  bool running = false;  // the slow job holds its update uncommitted
  for (int i = 0; i < 3000 && !running; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    running = FileExists(dir / "t.db-journal");
  }
  ASSERT_TRUE(running);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  const std::string text = ReadFile(dir / "log/RESULT.json");
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;

  EXPECT_EQ(Python(R"PY(
import hashlib, json, os, re
r = json.load(open("log/RESULT.json", encoding="utf-8"))
iso = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
assert set(r) == {"schema", "version", "start", "end", "list_file", "list_sha256", "selection",
                  "part", "exit_status", "error", "jobs"}, sorted(r)
assert r["list_sha256"] == hashlib.sha256(open("jobs.txt", "rb").read()).hexdigest(), r
assert r["selection"] is None, r
assert r["schema"] == 1 and r["version"].startswith("v"), r
assert iso.match(r["start"]) and iso.match(r["end"]) and r["start"] <= r["end"], r
assert r["list_file"] == "jobs.txt" and r["part"] is None and r["exit_status"] == 1, r
assert r["error"] == "The run was stopped by signal 15", r["error"]
jobs = r["jobs"]
assert [(j["job"], j["line"], j["status"]) for j in jobs] == [
    (1, 2, "done"), (2, 3, "failed"), (3, 5, "failed"), (4, 6, "not run")], jobs
keys = {"job", "line", "list_line", "inputs", "status", "error", "note", "duration_ms",
        "rows_read", "files", "deliveries"}
for j in jobs:
    assert set(j) == keys, sorted(j)
    assert j["deliveries"] == [] and j["note"] is None and j["duration_ms"] >= 0, j
done, bad, slow, never = jobs
assert done["error"] is None and done["rows_read"] == 3, done
assert [f["path"] for f in done["files"]] == ["out/A.csv", "out/B.csv", "out/all.xml"], done
for f in done["files"]:
    data = open(f["path"], "rb").read()
    assert f["bytes"] == len(data) == os.path.getsize(f["path"]), f
    assert f["sha256"] == hashlib.sha256(data).hexdigest(), f
assert bad["list_line"] == "-clear -udl:t.udl -sql:bad.sql -tocsv:out/bad.csv -params:password=***;x=1", bad
assert bad["error"] == 'no such table: no\x01pe', bad["error"]
assert bad["files"] == [] and bad["rows_read"] == 0, bad
assert slow["error"] == "The run ended before this job could be committed", slow
assert never["files"] == [] and never["error"] is None and never["duration_ms"] == 0, never
assert never["list_line"] == "-clear -udl:t.udl -sql:items.sql -tocsv:out/never.csv", never
)PY"),
            "");
  EXPECT_EQ(Db("SELECT COUNT(*) FROM items WHERE marked = 1"), Rows{{"0"}});
}

// A run that cannot start still leaves a report that says so; a run that
// ends well says "OK" only after its report is complete.
TEST_F(SchedulerRunTest, ReportOfARunThatFailsToStartAndOfAGoodRun) {
  auto r = testing::RunProgram({"-list:missing.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 2) << r.out;
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  std::string json = ReadFile(dir / "log/RESULT.json");
  EXPECT_NE(json.find("\"exit_status\": 2,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"error\": \"EFOpenError: "), std::string::npos) << json;
  EXPECT_NE(json.find("missing.txt"), std::string::npos) << json;
  EXPECT_NE(json.find("\"jobs\": []"), std::string::npos) << json;

  r = RunList("-udl:t.udl -sql:items.sql -tocsv:out/a.csv\r\n");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");
  json = ReadFile(dir / "log/RESULT.json");
  EXPECT_NE(json.find("\"exit_status\": 0,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"sha256\": \"" + Sha256Hex(ReadFile(dir / "out/a.csv")) + "\""),
            std::string::npos)
      << json;
  // Nothing temporary is left beside the reports.
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
    if (e.path().filename().string().starts_with("RESULT")) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"RESULT.TXT", "RESULT.json"}));
}

// -ifempty:skip: an empty result ends the job as done, with nothing written
// or delivered, the global post-SQL run and committed. The option goes down
// the list like the other job options, -clear restores "error", and a bad
// value is a mistake that names the option.
TEST_F(SchedulerRunTest, IfEmptySkipEndsAnEmptyJobAsDone) {
  WriteFile(dir / "none.sql", "SELECT id, name FROM items WHERE id > 100");
  WriteFile(dir / "mark.sql", "INSERT INTO runs VALUES (1)");
  auto r = RunList(
      "-udl:t.udl -sql:none.sql -tocsv:out/none.csv -mail:x@example.com -postsql:mark.sql "
      "-ifempty:skip\r\n"
      "-sql:none.sql -tocsv:out/none2.csv -postsql:mark.sql\r\n"
      "-clear -udl:t.udl -sql:none.sql -tocsv:out/none3.csv -postsql:mark.sql\r\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("job 1, line 1: zero records returned, nothing to write"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("job 1, line 1: Done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("job 2, line 2: Done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("job 3, line 3: zero records returned\n"), std::string::npos) << r.out;
  EXPECT_EQ(Db("SELECT COUNT(*) FROM runs"), Rows{{"2"}});  // jobs 1 and 2 committed
  EXPECT_FALSE(FileExists(dir / "out"));
  const std::string json = ReadFile(dir / "log/RESULT.json");
  EXPECT_NE(json.find("\"note\": \"zero records returned, nothing to write\""), std::string::npos)
      << json;

  for (const char* bad : {"-ifempty:maybe", "-ifempty:", "-ifempty"}) {
    r = RunList(std::string("-udl:t.udl -sql:none.sql -tocsv:out/x.csv ") + bad + "\r\n");
    EXPECT_EQ(r.exit_code, 2) << bad << r.out;
    EXPECT_NE(r.out.find("jobs.txt, line 1: "), std::string::npos) << bad << r.out;
    EXPECT_NE(r.out.find("-ifempty"), std::string::npos) << bad << r.out;
  }
}

// N processes started together with -part:K/N over one list write, between
// them, exactly the files of one whole run, each once; each part has its
// own log, error file and results.
TEST_F(SchedulerRunTest, PartsOfOneListRunEveryJobExactlyOnce) {
  WriteFile(dir / "bad.sql", "SELECT * FROM nowhere");
  std::string list = "-udl:t.udl -sql:bad.sql\r\n";  // job 1 fails
  for (int j = 2; j <= 17; ++j)
    list += "-sql:items.sql -tocsv:out/j" + std::to_string(j) + ".csv\r\n";
  WriteFile(dir / "jobs.txt", list);
  WriteFile(dir / "settings.ini", "[Ostrevane]\r\nthread_count=2\r\n");
  auto whole = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(whole.exit_code, 1) << whole.out;
  std::map<std::string, std::string> expected;
  for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
    expected[e.path().filename()] = ReadFile(e.path());
  ASSERT_EQ(expected.size(), 16u);

  for (int n : {1, 3, 7}) {
    std::filesystem::remove_all(dir / "out");
    std::filesystem::remove_all(dir / "log");
    std::vector<pid_t> pids;
    for (int k = 1; k <= n; ++k)
      pids.push_back(testing::StartProgram(
          {"-list:jobs.txt", "-part:" + std::to_string(k) + "/" + std::to_string(n)}, dir.path(),
          dir.path()));
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
    std::map<std::string, std::string> got;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
      got[e.path().filename()] = ReadFile(e.path());
    EXPECT_EQ(got, expected) << n;
    // Every job in exactly one part's report, every file in one report.
    std::multiset<std::string> reported_jobs, reported_files;
    std::set<std::string> logs;
    for (int k = 1; k <= n; ++k) {
      const std::string part = std::to_string(k) + "of" + std::to_string(n);
      EXPECT_EQ(ReadFile(dir / ("log/RESULT." + part + ".TXT")), k == 1 ? "ERROR" : "OK")
          << part;
      const std::string json = ReadFile(dir / ("log/RESULT." + part + ".json"));
      EXPECT_NE(json.find("\"part\": {\n    \"k\": " + std::to_string(k)), std::string::npos)
          << json;
      for (size_t at = json.find("\"job\": "); at != std::string::npos;
           at = json.find("\"job\": ", at + 1))
        reported_jobs.insert(json.substr(at + 7, json.find(',', at) - at - 7));
      const JsonValue report = ParseJson(json);
      for (const JsonValue& job : report.Find("jobs")->items)
        for (const JsonValue& file : job.Find("files")->items)
          reported_files.insert(file.Find("path")->text);
    }
    for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
      logs.insert(e.path().filename());
    EXPECT_EQ(reported_jobs.size(), 17u) << n;
    EXPECT_EQ(std::set<std::string>(reported_jobs.begin(), reported_jobs.end()).size(), 17u) << n;
    EXPECT_EQ(reported_files.size(), 16u) << n;
    EXPECT_EQ(std::set<std::string>(reported_files.begin(), reported_files.end()).size(), 16u)
        << n;
    // Part 1 runs job 1, the failing one: only it has an error file.
    size_t log_files = 0, err_files = 0;
    for (const std::string& name : logs) {
      if (name.ends_with("_log.txt")) ++log_files;
      if (name.ends_with("_err.txt")) {
        ++err_files;
        EXPECT_NE(name.find(".1of" + std::to_string(n) + "_err.txt"), std::string::npos) << name;
      }
    }
    EXPECT_EQ(log_files, size_t(n));
    EXPECT_EQ(err_files, 1u);
  }
}

TEST_F(SchedulerRunTest, BadPartsAreCommandLineMistakes) {
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:items.sql -tocsv:out/a.csv\r\n");
  for (const char* bad : {"-part:0/3", "-part:4/3", "-part:1/0", "-part:3", "-part:", "-part:a/b",
                          "-part:1/3/5", "-part:-1/3", "-part: 1/3", "-part:99999999/99999999"}) {
    auto r = testing::RunProgram({"-list:jobs.txt", bad}, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 2) << bad << r.out;
    EXPECT_NE(r.out.find("switch -part"), std::string::npos) << bad << r.out;
    EXPECT_FALSE(FileExists(dir / "out")) << bad;
  }
}

// log_encoding=utf-8: log and error files without a mark, that grep reads.
// Any other value than the two encodings stops the program before it runs.
TEST_F(SchedulerRunTest, Utf8LogsOnRequest) {
  WriteFile(dir / "settings.ini", "[Ostrevane]\r\nlog_encoding=utf-8\r\n");
  WriteFile(dir / "bad.sql", "SELECT * FROM nowhere");
  auto r = RunList("-udl:t.udl -sql:bad.sql -tocsv:out/a.csv\r\n");
  ASSERT_EQ(r.exit_code, 1) << r.out;
  std::string err_name;
  for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
    if (e.path().filename().string().ends_with("_err.txt")) err_name = e.path();
  ASSERT_FALSE(err_name.empty());
  const std::string err = ReadFile(err_name);
  EXPECT_NE(err.substr(0, 2), "\xFF\xFE");
  EXPECT_NE(err.find("[ERROR]   job 1, line 1: no such table: nowhere\r\n"), std::string::npos)
      << err;
  const std::string cmd = "cd " + dir.path() + " && grep -q ERROR log/*_err.txt";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  // The password commands' log too.
  r = testing::RunProgram({"-setmailpwd:s3cret"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string password_log = ReadFile(dir / "log/_log.txt");
  EXPECT_NE(password_log.find(" Mail password was changed\r\n"), std::string::npos)
      << password_log;
  EXPECT_NE(password_log.substr(0, 2), "\xFF\xFE");

  WriteFile(dir / "settings.ini", "[Ostrevane]\r\nlog_encoding=latin1\r\n");
  r = RunList("-udl:t.udl -sql:items.sql -tocsv:out/a.csv\r\n");
  EXPECT_EQ(r.exit_code, 2) << r.out;
  EXPECT_NE(r.out.find("log_encoding"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("latin1"), std::string::npos) << r.out;
  EXPECT_FALSE(FileExists(dir / "out/a.csv"));
}

}  // namespace
}  // namespace ostrevane
