// Picking jobs: -jobs numbers and ranges, and what -rerun reads from a
// run report; end to end: a rerun of the failed jobs of a list, each with
// what it inherits, its refusal once the list changed, and -jobs with
// -part and -check.
#include "app/job_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "common/error.h"
#include "common/json_reader.h"
#include "common/sha256.h"
#include "common/text.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.message();
  }
  return "";
}

std::vector<Job> NumberedJobs(int count) {
  std::vector<Job> jobs(count);
  for (int i = 0; i < count; ++i) jobs[i].run_number = i + 1, jobs[i].list_line_number = 2 * i + 1;
  return jobs;
}

std::vector<int> Numbers(const std::vector<Job>& jobs) {
  std::vector<int> out;
  for (const Job& job : jobs) out.push_back(job.run_number);
  return out;
}

TEST(JobSelectionTest, NumbersAndRangesPickJobsOfTheWholeList) {
  const std::string usage =
      " (job numbers and ranges separated by commas, for example -jobs:5,7-9)";
  struct {
    std::string value;
    std::vector<int> picked;  // of 10 jobs
    std::string error;
  } cases[] = {
      {"5,7-9", {5, 7, 8, 9}, ""},
      {"9-10,1, 3 ,3,2-4", {1, 2, 3, 4, 9, 10}, ""},
      {"4-4", {4}, ""},
      {"11",
       {},
       "switch -jobs:11: the list has no job 11; it has 10 jobs (numbered as in the log "
       "and RESULT.json)"},
      {"8-12",
       {},
       "switch -jobs:8-12: the list has no job 11; it has 10 jobs (numbered as in the "
       "log and RESULT.json)"},
      {"", {}, "switch -jobs: \"\" names no job" + usage},
      {"0",
       {},
       "switch -jobs: \"0\" holds \"0\", which is no job number from 1 and no range" + usage},
      {"3,,4",
       {},
       "switch -jobs: \"3,,4\" holds \"\", which is no job number from 1 and no range" + usage},
      {"2-x",
       {},
       "switch -jobs: \"2-x\" holds \"2-x\", which is no job number from 1 and no range" + usage},
      {"-3",
       {},
       "switch -jobs: \"-3\" holds \"-3\", which is no job number from 1 and no range" + usage},
      {"9-7", {}, "switch -jobs: \"9-7\" holds the range \"9-7\", which runs backwards" + usage},
  };
  for (const auto& row : cases) {
    std::vector<Job> picked;
    const std::string error =
        ErrorOf([&] { picked = SelectJobs(NumberedJobs(10), ParseJobsSwitch(row.value)); });
    EXPECT_EQ(error, row.error) << row.value;
    EXPECT_EQ(Numbers(picked), row.picked) << row.value;
  }
  // No selection: every job.
  EXPECT_EQ(SelectJobs(NumberedJobs(3), JobSelection{}).size(), 3u);
}

// A report tells a rerun which jobs to run only when it is the whole story
// of an ended run of a list.
TEST(JobSelectionTest, RerunReadsOnlyEndedReportsOfAList) {
  TempDir dir;
  const std::string sha(64, 'a');
  auto report = [&](const std::string& fields, const std::string& jobs) {
    return "{\"schema\": 1, " + fields + ", \"jobs\": [" + jobs + "]}";
  };
  const std::string ended =
      "\"list_file\": \"jobs.txt\", \"list_sha256\": \"" + sha + "\", \"exit_status\": 1";
  const std::string three =
      "{\"job\": 2, \"status\": \"done\"}, {\"job\": 4, \"status\": "
      "\"failed\"}, {\"job\": 6, \"status\": \"not run\"}";
  const std::string path = dir / "r.json";
  struct {
    std::string text, error;
  } cases[] = {
      {report(ended, three), ""},
      {report(
           "\"list_file\": \"jobs.txt\", \"list_sha256\": \"" + sha + "\", \"exit_status\": null",
           three),
       "reports a run that has not ended (its exit_status is null): it still runs, or it was "
       "killed before it wrote its end, and which of its jobs are done is unknown; see its log"},
      {report("\"list_file\": null, \"list_sha256\": null, \"exit_status\": 0", three),
       "reports the job of a command line (-run), not a list: run it again with -run"},
      {report("\"list_file\": \"jobs.txt\", \"list_sha256\": null, \"exit_status\": 2, "
              "\"error\": \"Exception: File x.sql does not exist\"",
              ""),
       "reports a run that ended before it read its list (Exception: File x.sql does not "
       "exist); no job ran: run the list again"},
      {report("\"list_file\": \"jobs.txt\", \"exit_status\": 1", three),
       "records no checksum of its list; pick the jobs with -jobs instead"},
      {report(ended, "{\"job\": \"x\", \"status\": \"failed\"}"),
       "lists a job without a valid job number"},
      {"{\"schema\": 2, \"jobs\": []}", "is no run report (RESULT.json) of schema 1"},
      {"[1, 2]", "is no run report (RESULT.json) of schema 1"},
      {"{\"schema\": 1, \"jobs\": [",
       "cannot be read as a run report: JSON: unexpected end at "
       "offset 23"},
  };
  for (const auto& row : cases) {
    WriteFile(path, row.text);
    RerunSource source;
    const std::string error = ErrorOf([&] { source = ReadRerunReport(path); });
    EXPECT_EQ(error, row.error.empty() ? "" : "switch -rerun: " + path + " " + row.error)
        << row.text;
    if (row.error.empty()) {
      EXPECT_EQ(source.list_file, "jobs.txt");
      EXPECT_EQ(source.list_sha256, sha);
      EXPECT_EQ(Numbers(SelectJobs(NumberedJobs(6), source.selection)), (std::vector<int>{4, 6}));
    }
  }
  EXPECT_NE(ErrorOf([&] { ReadRerunReport(dir / "none.json"); })
                .find("switch -rerun: " + dir / "none.json" +
                      " cannot be read as a run report: Cannot open file"),
            std::string::npos);
}

// A list of six jobs on SQLite: jobs 2 and 3 read a table that is missing
// on the first night. Job 3 takes its connection and SQL from line 2 and
// gives its own -params.
class RerunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'one'), (2, 'two');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    WriteFile(dir / "late.sql", "SELECT id, kind FROM late WHERE kind = :kind ORDER BY id");
    WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=2\nlog_encoding=utf-8\n");
    WriteFile(dir / "jobs.txt",
              "-udl:t.udl -sql:items.sql -csvcp:0 -tocsv:out/j1.csv\n"
              "-sql:late.sql -tocsv:out/j2.csv -params:kind=a\n"
              "-tocsv:out/j3.csv -params:kind=b\n"
              "\n"
              "-sql:items.sql -tocsv:out/j4.csv\n"
              "-tocsv:out/j5.csv\n"
              "# the last one starts afresh\n"
              "-clear -udl:t.udl -sql:items.sql -csvcp:0 -tocsv:out/j6.csv\n");
  }
  testing::ProgramResult Run(std::vector<std::string> args) {
    return testing::RunProgram(args, dir.path(), dir.path());
  }
  // "job N, line L" of every job that logged "executing SQL", in order of
  // their numbers.
  std::vector<std::string> JobsThatRan(const std::string& out) {
    std::vector<std::string> ran;
    for (const std::string& line : SplitLines(out)) {
      const size_t at = line.find("job ");
      if (at != std::string::npos && line.ends_with(": executing SQL"))
        ran.push_back(line.substr(at, line.size() - at - 15));
    }
    std::sort(ran.begin(), ran.end());
    return ran;
  }
  JsonValue Report(const std::string& name = "log/RESULT.json") {
    return ParseJson(ReadFile(dir / name));
  }
  TempDir dir;
};

TEST_F(RerunTest, RerunRunsTheFailedJobsWithWhatTheyInheritAndRefusesAChangedList) {
  auto first = Run({"-list:jobs.txt"});
  ASSERT_EQ(first.exit_code, 1) << first.out;
  EXPECT_EQ(JobsThatRan(first.out).size(), 6u) << first.out;
  for (const char* name : {"j2", "j3"})
    EXPECT_FALSE(std::filesystem::exists(dir / ("out/" + std::string(name) + ".csv")));
  const std::string first_report = ReadFile(dir / "log/RESULT.json");
  const JsonValue first_json = Report();
  EXPECT_EQ(first_json.Find("list_sha256")->text, Sha256Hex(ReadFile(dir / "jobs.txt")));
  // The run keeps its report beside its log files.
  std::string kept;
  for (const auto& e : std::filesystem::directory_iterator(dir / "log"))
    if (e.path().filename().string().ends_with("_result.json")) kept = e.path().string();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(ReadFile(kept), first_report);
  WriteFile(dir / "first.json", first_report);

  // The morning after: the table is there, the good jobs' files are
  // collected, and only the failed jobs run again.
  testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'one'), (2, 'two');
      CREATE TABLE late (id INTEGER, kind VARCHAR(1));
      INSERT INTO late VALUES (1, 'a'), (2, 'b'), (3, 'a');)");
  std::filesystem::remove_all(dir / "out");
  auto rerun = Run({"-rerun:log/RESULT.json"});
  ASSERT_EQ(rerun.exit_code, 0) << rerun.out;
  EXPECT_EQ(JobsThatRan(rerun.out), (std::vector<std::string>{"job 2, line 2", "job 3, line 3"}));
  // Job 3 ran line 2's SQL on line 1's connection with its own value.
  EXPECT_EQ(ReadFile(dir / "out/j2.csv"), "1;a\r\n3;a");
  EXPECT_EQ(ReadFile(dir / "out/j3.csv"), "2;b");
  EXPECT_EQ(std::vector<std::string>({"j2.csv", "j3.csv"}), [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }());
  // The rerun's report names its choice, and the SQL file each job read.
  const JsonValue report = Report();
  EXPECT_EQ(report.Find("selection")->text, "-rerun:log/RESULT.json");
  EXPECT_EQ(report.Find("list_file")->text, "jobs.txt");
  const JsonValue* jobs = report.Find("jobs");
  ASSERT_EQ(jobs->items.size(), 2u);
  for (const JsonValue& job : jobs->items) {
    EXPECT_EQ(job.Find("status")->text, "done");
    const JsonValue& sql = job.Find("inputs")->items.at(0);
    EXPECT_EQ(sql.Find("role")->text, "sql");
    EXPECT_EQ(sql.Find("path")->text, dir / "late.sql");
    EXPECT_EQ(sql.Find("sha256")->text, Sha256Hex(ReadFile(dir / "late.sql")));
  }
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");

  // A list that changed since: job numbers may name other jobs.
  WriteFile(dir / "jobs.txt", "# a new first line\n" + ReadFile(dir / "jobs.txt"));
  const std::string report_before = ReadFile(dir / "log/RESULT.json");
  auto refused = Run({"-list:jobs.txt", "-rerun:first.json"});
  EXPECT_EQ(refused.exit_code, 2) << refused.out;
  EXPECT_NE(
      refused.out.find("Exception: switch -rerun: first.json reports a run of the list "
                       "jobs.txt as it was then (SHA-256 " +
                       first_json.Find("list_sha256")->text + "); " + dir / "jobs.txt" +
                       " has changed since (SHA-256 " + Sha256Hex(ReadFile(dir / "jobs.txt")) +
                       "), so its job numbers may name other jobs."),
      std::string::npos)
      << refused.out;
  EXPECT_TRUE(JobsThatRan(refused.out).empty());
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");
  EXPECT_EQ(ReadFile(dir / "log/RESULT.json"), report_before);
}

TEST_F(RerunTest, JobsPicksNumbersAndRangesAlsoWithPartsAndCheck) {
  testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      CREATE TABLE late (id INTEGER, kind VARCHAR(1));)");
  // Empty results fail: the jobs that run say so.
  auto r = Run({"-list:jobs.txt", "-jobs:1,4-5"});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(JobsThatRan(r.out),
            (std::vector<std::string>{"job 1, line 1", "job 4, line 5", "job 5, line 6"}));
  EXPECT_NE(r.out.find("Summary: 3 jobs: 0 done, 3 failed"), std::string::npos) << r.out;
  EXPECT_EQ(Report().Find("selection")->text, "-jobs:1,4-5");

  // Part 2 of 2 runs the even numbers: of 2-5, jobs 2 and 4.
  r = Run({"-list:jobs.txt", "-jobs", "2-5", "-part:2/2"});
  EXPECT_EQ(JobsThatRan(r.out), (std::vector<std::string>{"job 2, line 2", "job 4, line 5"}))
      << r.out;

  r = Run({"-list:jobs.txt", "-jobs:2-3", "-check"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("job 2, list line 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("job 3, list line 3\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("job 1, list line"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n2 jobs\n"), std::string::npos) << r.out;

  struct {
    std::vector<std::string> args;
    std::string error;
  } mistakes[] = {
      {{"-list:jobs.txt", "-jobs:7"},
       "Exception: switch -jobs:7: the list has no job 7; it has 6 jobs (numbered as in the log "
       "and RESULT.json)"},
      {{"-list:jobs.txt", "-jobs:1", "-rerun:log/RESULT.json"},
       "Exception: -jobs and -rerun exclude each other"},
      {{"-jobs:1", "-run", "-udl:t.udl"}, "Exception: -jobs picks jobs of a list; -run runs"},
      {{"-list:jobs.txt", "-tocsv:x.csv"},
       "Exception: job option -tocsv:x.csv beside -list: a list run takes the job options from "
       "its list; only -params applies to every job of the list"},
  };
  for (const auto& row : mistakes) {
    r = Run(row.args);
    EXPECT_EQ(r.exit_code, 2) << r.out;
    EXPECT_NE(r.out.find(row.error), std::string::npos) << r.out;
    EXPECT_TRUE(JobsThatRan(r.out).empty()) << r.out;
  }
}

}  // namespace
}  // namespace ostrevane
