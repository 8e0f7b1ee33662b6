// List runs end to end: the real executable on real SQLite files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "common/path.h"
#include "common/text.h"
#include "common/text_file.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::SqliteRows;
using testing::TempDir;
using testing::WriteFile;
using Rows = std::vector<std::vector<std::string>>;

class ListRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, region VARCHAR(5), name VARCHAR(20), marked INTEGER);
      INSERT INTO items VALUES (1, 'A', 'x', 0), (2, 'A', 'y;z', 0), (3, 'B', 'q"q', 0);
      CREATE TABLE runs (n INTEGER);
      CREATE TABLE audit (what VARCHAR(20));)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, region, name FROM items ORDER BY id");
  }

  void Settings(int threads) {
    WriteFile(dir / "settings.ini", "[Ostrevane]\r\nthread_count=" + std::to_string(threads) + "\r\n");
  }

  testing::ProgramResult RunList(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  std::string Utf16File(const std::string& name) {
    std::string bytes = ReadFile(dir / name);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << name;
    return DecodeText(bytes.substr(2), TextEncoding::kUtf16Le);
  }

  // The name of the run's log file with this suffix ("_log.txt", "_err.txt").
  std::string LogFileName(const std::string& suffix) {
    for (const auto& e : std::filesystem::directory_iterator(dir / "log")) {
      const std::string name = e.path().filename().string();
      if (name.size() > suffix.size() && name.ends_with(suffix)) return name;
    }
    return "";
  }

  Rows Db(const std::string& sql) { return SqliteRows(dir / "t.db", sql); }
  std::string Result() { return ReadFile(dir / "log/RESULT.TXT"); }

  TempDir dir;
};

// The lines of the console output that carry `tag` and `text`.
std::vector<std::string> Lines(const std::string& out) { return SplitLines(out); }

TEST_F(ListRunTest, ResultJobsWriteCsvXmlAndSplitFiles) {
  Settings(2);
  auto r = RunList(
      "-udl:t.udl -sql:items.sql -tocsv:out/all.csv\r\n"
      "-sql:items.sql -tocsv:out/split/:REGION.csv -csvcp:0 -csvformat:,\r\n"
      "-clear -udl:t.udl -sql:items.sql -toxml:out/all.xml\r\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/both.csv -toxml:out/both.xml\r\n");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Result(), "OK");
  EXPECT_EQ(Utf16File("out/all.csv"), "1;A;x\r\n2;A;\"y;z\"\r\n3;B;\"q\"\"q\"");
  EXPECT_EQ(ReadFile(dir / "out/split/A.csv"), "1,A,x\r\n2,A,y;z\r\n");
  EXPECT_EQ(ReadFile(dir / "out/split/B.csv"), "3,B,\"q\"\"q\"");
  const std::string xml = ReadFile(dir / "out/all.xml");
  EXPECT_NE(xml.find("<RECORDS COUNT=\"3\">"), std::string::npos);
  EXPECT_NE(xml.find("<RECORD id=\"3\" region=\"B\" name=\"q&quot;q\"/>"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "out/both.xml").substr(xml.find("<DATASET ")),
            xml.substr(xml.find("<DATASET ")));
  EXPECT_NE(r.out.find("[NOTE]    job 2, line 2: saved file out/split/A.csv"), std::string::npos);
  EXPECT_NE(r.out.find("[NOTE]    job 4, line 4: saved file out/both.csv"), std::string::npos);
  EXPECT_NE(r.out.find("[NOTE]    job 4, line 4: saved file out/both.xml"), std::string::npos);
  EXPECT_FALSE(FileExists(dir / "log/_err.txt"));
}

TEST_F(ListRunTest, ScriptJobsAndPostSqlCommitTheirWork) {
  Settings(1);
  WriteFile(dir / "script.sql",
            "INSERT INTO runs VALUES (:n)\ngo\nINSERT INTO runs VALUES (:n + 1)\nGO\n"
            "INSERT INTO runs VALUES (:n + 2)\n");
  WriteFile(dir / "mark.sql", "UPDATE items SET marked = 1 WHERE id = :ID");
  WriteFile(dir / "global.sql", "--param what;text;done\nINSERT INTO audit VALUES (:what)");
  auto r = RunList(
      "-udl:t.udl -sql:script.sql -params:n=10\r\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/items.csv -postrecsql:mark.sql "
      "-postsql:global.sql\r\n");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Db("SELECT n FROM runs ORDER BY n"), (Rows{{"10"}, {"11"}, {"12"}}));
  EXPECT_EQ(Db("SELECT COUNT(*) FROM items WHERE marked = 1"), (Rows{{"3"}}));
  EXPECT_EQ(Db("SELECT what FROM audit"), (Rows{{"done"}}));
  // Two "go" lines: two dots, never inside a line.
  EXPECT_NE(r.out.find(".."), std::string::npos);
  EXPECT_NE(r.out.find("Post-SQL query for records executed"), std::string::npos);
  EXPECT_NE(r.out.find("Global post-SQL query executed"), std::string::npos);
}

TEST_F(ListRunTest, EveryFailingStepRollsBackAndKeepsWrittenFiles) {
  Settings(3);
  WriteFile(dir / "bad_script.sql", "INSERT INTO runs VALUES (1)\ngo\nINSERT INTO nowhere VALUES (2)\ngo\n");
  WriteFile(dir / "none.sql", "SELECT id FROM items WHERE id < 0");
  WriteFile(dir / "mark.sql", "UPDATE items SET marked = 1 WHERE id = :id");
  WriteFile(dir / "bad_global.sql", "INSERT INTO nowhere VALUES (1)");
  WriteFile(dir / "blocker", "a file where a folder should be");
  auto r = RunList(
      "-clear -udl:t.udl -sql:bad_script.sql\r\n"
      "-clear -udl:t.udl -sql:none.sql -tocsv:out/none.csv\r\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:blocker/out.csv -postrecsql:mark.sql\r\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/kept.csv -postrecsql:mark.sql "
      "-postsql:bad_global.sql\r\n"
      "-clear -udl:missing.udl\r\n");
  // The last line names a missing data-link file: the whole run ends early.
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.out.find("Exception: jobs.txt, line 5: File " + dir / "missing.udl" + " does not exist"),
            std::string::npos)
      << r.out;

  const std::string list = ReadFile(dir / "jobs.txt");
  WriteFile(dir / "jobs.txt", list.substr(0, list.rfind("-clear -udl:missing")));
  // The failed start logged too; a second later its files would stand beside
  // this run's, so they go first.
  std::filesystem::remove_all(dir / "log");
  r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(Result(), "ERROR");
  EXPECT_EQ(Db("SELECT COUNT(*) FROM runs"), (Rows{{"0"}}));
  EXPECT_EQ(Db("SELECT COUNT(*) FROM items WHERE marked = 1"), (Rows{{"0"}}));
  EXPECT_NE(r.out.find("[ERROR]   job 2, line 2: zero records returned"), std::string::npos);
  EXPECT_NE(r.out.find("nowhere"), std::string::npos);
  EXPECT_NE(r.out.find("Cannot create file"), std::string::npos);
  EXPECT_TRUE(FileExists(dir / "out/kept.csv"));
  EXPECT_FALSE(FileExists(dir / "out/none.csv"));
  const std::string errors = Utf16File("log/" + LogFileName("_err.txt"));
  EXPECT_EQ(SplitLines(errors).size(), 4u) << errors;
  EXPECT_NE(errors.find("[ERROR]   job 2, line 2: zero records returned\r\n"), std::string::npos);
  // The error file alone tells which jobs failed: each of the four.
  for (const char* label : {"job 1, line 1: ", "job 3, line 3: ", "job 4, line 4: "})
    EXPECT_NE(errors.find(std::string("[ERROR]   ") + label), std::string::npos) << errors;
}

// A field value may add folder levels below the folder that the template
// names, never lead out of it; a writer that fails leaves no file under its
// final name. Either fails its own job only.
TEST_F(ListRunTest, RefusedNamesAndFailedWritersLeaveNoFiles) {
  Settings(2);
  testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE targets (name VARCHAR(200));
      INSERT INTO targets VALUES ('fine'), ('../../abs_target');
      CREATE TABLE blobs (id INTEGER, data BLOB);
      INSERT INTO blobs VALUES (1, NULL), (2, NULL), (3, x'01');)");
  WriteFile(dir / "abs_target.csv", "precious");
  const std::string refused = "The value of field name cannot be used in a file name: ";
  struct {
    std::string sql;
    std::string output;  // the job's -tocsv or -toxml option
    std::string error;   // its error line
  } jobs[] = {
      {"SELECT name FROM targets", "-tocsv:out/sub/:NAME.csv",
       refused + "\"../../abs_target\" would make a \"..\" folder level"},
      {"SELECT '" + dir.path() + "/abs_target' AS name", "-toxml::NAME.xml",
       refused + "\"" + dir.path() + "/abs_target\" starts with \"/\""},
      {"SELECT 'a' || char(10) || 'b' AS name", "-tocsv:out/:NAME.csv",
       refused + "\"a?b\" holds a control character (code 10)"},
      {"SELECT id, data FROM blobs ORDER BY id", "-tocsv:out/blob.csv",
       "Cannot write file \"" + dir.path() +
           "/out/blob.csv\". Could not convert variant of type (Array Byte) into type (String)"},
      {"SELECT 'good' AS name", "-tocsv:out/:NAME/ok.csv", ""},
  };
  std::string list;
  for (size_t i = 0; i < std::size(jobs); ++i) {
    const std::string sql = "job" + std::to_string(i) + ".sql";
    WriteFile(dir / sql, jobs[i].sql);
    list += "-clear -udl:t.udl -sql:" + sql + " " + jobs[i].output + "\r\n";
  }
  auto r = RunList(list);
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(Result(), "ERROR");
  for (size_t i = 0; i < std::size(jobs); ++i) {
    if (jobs[i].error.empty()) continue;
    const std::string label = "job " + std::to_string(i + 1) + ", line " + std::to_string(i + 1);
    EXPECT_NE(r.out.find("[ERROR]   " + label + ": " + jobs[i].error + "\n"), std::string::npos)
        << r.out;
  }
  EXPECT_NE(r.out.find("saved file out/good/ok.csv"), std::string::npos) << r.out;

  EXPECT_EQ(ReadFile(dir / "abs_target.csv"), "precious");
  EXPECT_FALSE(FileExists(dir / "abs_target.xml"));
  std::set<std::string> written;  // no temporary file stays either
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out"))
    if (e.is_regular_file()) written.insert(e.path().lexically_relative(dir.path()).string());
  EXPECT_EQ(written, std::set<std::string>{"out/good/ok.csv"});
}

// A run killed in the middle of an export leaves a file whose name shows
// that it is a temporary one, never a cut-off file under the final name.
TEST_F(ListRunTest, KilledExportLeavesOnlyATemporaryFile) {
  WriteFile(dir / "endless.sql",
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
            "SELECT x, 'a row of some length to fill the file' FROM c");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:endless.sql -tocsv:out/big.csv\r\n");
  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  // Killed once the temporary file has grown past its first chunks.
  std::string temp;
  for (int i = 0; i < 2000 && temp.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!DirectoryExists(dir / "out")) continue;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
      if (e.is_regular_file() && e.file_size() > (size_t{4} << 20)) temp = e.path().filename();
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ASSERT_FALSE(temp.empty()) << "no file grew";
  EXPECT_TRUE(temp.starts_with("big.csv.tmp-")) << temp;
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
    left.insert(e.path().filename());
  EXPECT_EQ(left, std::set<std::string>{temp});
}

// A signal mid-run: SIGTERM and SIGINT end it cleanly (the running job rolls
// back and says so, no further job starts, the stop is logged, exit 1);
// SIGKILL cannot be handled, and RESULT.TXT, written "ERROR" first, says so.
TEST_F(ListRunTest, SignalsEndTheRunWithoutCommittingOrClaimingSuccess) {
  WriteFile(dir / "slow.sql",
            "UPDATE items SET marked = 1\r\ngo\r\n"
            "SELECT COUNT(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < 3000000) SELECT x FROM c)\r\n");
  WriteFile(dir / "mark.sql", "INSERT INTO runs VALUES (1)");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:slow.sql\r\n-clear -udl:t.udl -sql:mark.sql\r\n");
  // One worker, and time enough for the slow statement in any build.
  WriteFile(dir / "settings.ini", "[Ostrevane]\r\nthread_count=1\r\ncommand_timeout=600\r\n");
  for (int signal_number : {SIGTERM, SIGINT, SIGKILL}) {
    std::filesystem::remove_all(dir / "log");
    const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
    // Sent while the first job holds its update uncommitted: SQLite's
    // rollback journal exists exactly then. (The job's own lines are
    // printed only when it ends.)
    bool running = false;
    for (int i = 0; i < 3000 && !running; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      running = FileExists(dir / "t.db-journal");
    }
    ASSERT_TRUE(running) << signal_number;
    ::kill(pid, signal_number);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(Result(), "ERROR") << signal_number;
    EXPECT_EQ(Db("SELECT COUNT(*) FROM items WHERE marked = 1"), Rows{{"0"}}) << signal_number;
    EXPECT_EQ(Db("SELECT COUNT(*) FROM runs"), Rows{{"0"}}) << signal_number;
    if (signal_number == SIGKILL) continue;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << signal_number;
    const std::string errors = Utf16File("log/" + LogFileName("_err.txt"));
    EXPECT_NE(errors.find("The run ended before this job could be committed"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("The run was stopped by signal " + std::to_string(signal_number)),
              std::string::npos)
        << errors;
  }
}

// Text from the server (here an error that quotes the SQL) cannot add a
// line of its own to the console, the log or the error file.
TEST_F(ListRunTest, AServerMessageCannotForgeALogLine) {
  WriteFile(dir / "forge.sql", "SELECT * FROM \"nope\n16:00:00 [NOTE]    Done forged\"");
  auto r = RunList("-udl:t.udl -sql:forge.sql -tocsv:out/x.csv\r\n");
  EXPECT_EQ(r.exit_code, 1);
  const std::string shown = "nope\\n16:00:00 [NOTE]    Done forged";
  for (const std::string& text :
       {r.out, Utf16File("log/" + LogFileName("_log.txt")), Utf16File("log/" + LogFileName("_err.txt"))}) {
    EXPECT_NE(text.find(shown), std::string::npos) << text;
    for (const std::string& line : SplitLines(text))
      EXPECT_FALSE(line.starts_with("16:00:00")) << text;
  }
}

TEST_F(ListRunTest, ManyJobsRunOnceEachInBlocks) {
  WriteFile(dir / "one.sql", "SELECT 1 AS one");
  WriteFile(dir / "mark.sql", "INSERT INTO runs VALUES (:n)");
  std::string list;
  for (int i = 0; i < 200; ++i) {
    list += "-clear -udl:t.udl -sql:one.sql -postrecsql:mark.sql -tocsv:out/job_" +
            std::to_string(i) + ".csv -params:n=" + std::to_string(i) + "\r\n";
  }
  for (int threads : {1, 8}) {
    Settings(threads);
    testing::CreateSqliteDatabase(dir / "t.db", "CREATE TABLE runs (n INTEGER);");
    auto r = RunList(list);
    ASSERT_EQ(r.exit_code, 0) << r.out.substr(0, 2000);
    Rows runs = Db("SELECT n, COUNT(*) FROM runs GROUP BY n ORDER BY n");
    ASSERT_EQ(runs.size(), 200u) << threads;
    for (int i = 0; i < 200; ++i) EXPECT_EQ(runs[i], (std::vector<std::string>{std::to_string(i), "1"}));
    std::vector<std::string> lines = Lines(r.out);
    std::set<std::string> saved;
    for (size_t i = 0; i < lines.size(); ++i) {
      size_t at = lines[i].find("saved file ");
      if (at == std::string::npos) continue;
      saved.insert(lines[i].substr(at));
      ASSERT_GE(i, 1u);
      ASSERT_LT(i + 2, lines.size());
      EXPECT_NE(lines[i - 1].find("executing SQL"), std::string::npos) << lines[i];
      EXPECT_NE(lines[i + 1].find("Post-SQL query for records executed"), std::string::npos);
      EXPECT_NE(lines[i + 2].find("Done"), std::string::npos) << lines[i];
    }
    EXPECT_EQ(saved.size(), 200u) << threads;
    // Each job's line names it by its place in the run and its list line;
    // one thread runs them in list order.
    size_t pos = 0;
    for (int i = 0; i < 200; ++i) {
      const std::string n = std::to_string(i + 1);
      pos = r.out.find(
          "job " + n + ", line " + n + ": saved file out/job_" + std::to_string(i) + ".csv",
          threads == 1 ? pos : 0);
      ASSERT_NE(pos, std::string::npos) << threads << " " << i;
    }
  }
}

TEST_F(ListRunTest, HostileJobsEndCleanlyAndEveryJobReports) {
  WriteFile(dir / "settings.ini", "[Ostrevane]\r\nthread_count=4\r\ncommand_timeout=1\r\n");
  testing::WriteUdlFile(dir / "missing.udl", testing::SqliteConnectionString("missing.db"));
  WriteFile(dir / "endless.sql",
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c");
  WriteFile(dir / "first.sql", "SELECT 'first' AS who, id FROM items");
  WriteFile(dir / "second.sql", "SELECT 'second' AS who, id FROM items");
  auto r = RunList(
      "-clear -udl:missing.udl -sql:items.sql -tocsv:out/missing.csv\r\n"
      "-clear -udl:t.udl -sql:endless.sql -tocsv:out/endless.csv\r\n"
      "-clear -udl:t.udl -sql:first.sql -tocsv:out/same.csv -csvcp:0\r\n"
      "-clear -udl:t.udl -sql:second.sql -tocsv:out/same.csv -csvcp:0\r\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(Result(), "ERROR");
  EXPECT_NE(r.out.find("missing.db"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("timed out after 1 s"), std::string::npos) << r.out;
  EXPECT_FALSE(FileExists(dir / "missing.db"));  // never created by a job
  // Writers take turns: the file is one job's whole output, not a mix.
  const std::string same = ReadFile(dir / "out/same.csv");
  EXPECT_TRUE(same == "first;1\r\nfirst;2\r\nfirst;3" || same == "second;1\r\nsecond;2\r\nsecond;3")
      << same;
  size_t done = 0, errors = 0;
  for (const std::string& line : Lines(r.out)) {
    done += line.find("[NOTE]    job ") != std::string::npos && line.ends_with(": Done");
    errors += line.find("[ERROR]") != std::string::npos;
  }
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(errors, 2u);
}

}  // namespace
}  // namespace ostrevane
