#include "workers/dispatcher.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "control/options.h"
#include "testing/memory_backend.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;

struct RecordingSink : ReportSink {
  std::vector<std::string> lines;
  std::vector<std::string> errors;
  void AddLine(std::string_view l) override { lines.emplace_back(l); }
  void AddError(std::string_view l) override {
    lines.emplace_back(l);
    errors.emplace_back(l);
  }
};

std::vector<Job> ScriptJobs(int n, int fail_every) {
  std::vector<Job> jobs(n);
  for (int i = 0; i < n; ++i) {
    jobs[i].run_number = i + 1;
    jobs[i].list_line_number = i + 3;  // as after two lines without a job
    jobs[i].connection_string = "Provider=Memory";
    jobs[i].sql = "job " + std::to_string(i) + (fail_every && i % fail_every == 0 ? " FAIL" : "");
  }
  return jobs;
}

// Each job leaves "executing SQL" and then "Done" or one error line, both
// naming the job (as ScriptJobs numbered it); lines of two jobs never
// interleave, and every job has its block.
void ExpectBlocks(const std::vector<std::string>& lines, int job_count) {
  ASSERT_EQ(lines.size(), 2u * job_count);
  std::set<int> seen;
  for (size_t i = 0; i < lines.size(); i += 2) {
    const size_t at = lines[i].find("[NOTE]    job ");
    ASSERT_NE(at, std::string::npos) << lines[i];
    const int number = std::stoi(lines[i].substr(at + 14));
    seen.insert(number);
    const std::string label =
        "job " + std::to_string(number) + ", line " + std::to_string(number + 2) + ": ";
    EXPECT_NE(lines[i].find("[NOTE]    " + label + "executing SQL"), std::string::npos) << lines[i];
    const bool done = lines[i + 1].find("[NOTE]    " + label + "Done") != std::string::npos;
    const bool error =
        lines[i + 1].find("[ERROR]   " + label + "memory backend") != std::string::npos;
    EXPECT_TRUE(done || error) << lines[i + 1];
  }
  EXPECT_EQ(seen.size(), size_t(job_count));
}

TEST(DispatchTest, EveryJobRunsExactlyOnceOnAnyPoolSize) {
  for (int workers : {1, 8, 64}) {
    auto db = std::make_shared<MemoryDatabase>();
    db->fail_on = "FAIL";
    WorkerSettings settings;
    settings.backend_factory = MemoryFactory(db);
    RecordingSink sink;
    const std::vector<Job> jobs = ScriptJobs(200, 7);
    const bool error = RunJobsOnPool(jobs, workers, settings, sink);

    EXPECT_TRUE(error) << workers;
    std::map<std::string, int> runs;
    for (const auto& call : db->calls) ++runs[call.sql];
    ASSERT_EQ(runs.size(), 200u) << workers;
    for (const auto& [sql, n] : runs) EXPECT_EQ(n, 1) << sql;
    EXPECT_EQ(sink.errors.size(), 29u) << workers;  // jobs 0, 7, ..., 196
    ExpectBlocks(sink.lines, 200);
    if (workers == 1) {
      for (int i = 0; i < 200; ++i) EXPECT_EQ(db->calls[i].sql, jobs[i].sql);
    }
  }
}

TEST(DispatchTest, EmptyListRetiresEveryWorkerQuietly) {
  auto db = std::make_shared<MemoryDatabase>();
  WorkerSettings settings;
  settings.backend_factory = MemoryFactory(db);
  RecordingSink sink;
  EXPECT_FALSE(RunJobsOnPool({}, 0, settings, sink));
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_TRUE(db->calls.empty());
}

// A line is an error by the tag the program gave it: a note that happens to
// hold "[ERROR]" (a file name) is no error, an error whose text holds it is.
TEST(DispatchTest, TheErrorFlagFollowsTheTagNotTheText) {
  testing::TempDir dir;
  auto db = std::make_shared<MemoryDatabase>();
  db->results.push_back({{{"ID", FieldType::kInteger, 0}}, {{Value::Integer(1)}}});
  WorkerSettings settings;
  settings.backend_factory = MemoryFactory(db);
  std::vector<Job> jobs = ScriptJobs(1, 0);
  SetDefaultFormats(jobs[0]);
  jobs[0].csv_path = dir.path() + "/[ERROR].csv";
  RecordingSink notes;
  EXPECT_FALSE(RunJobsOnPool(jobs, 1, settings, notes));
  EXPECT_TRUE(notes.errors.empty());
  ASSERT_GE(notes.lines.size(), 2u);
  EXPECT_NE(notes.lines[1].find("saved file " + jobs[0].csv_path), std::string::npos);

  // A connection that fails with a text holding the tag on purpose.
  settings.backend_factory = [](const ConnectionString&) -> std::unique_ptr<Backend> {
    throw Error("Exception", "bad name [ERROR] inside");
  };
  RecordingSink failures;
  EXPECT_TRUE(RunJobsOnPool(ScriptJobs(1, 0), 2, settings, failures));
  ASSERT_EQ(failures.errors.size(), 1u);
  EXPECT_NE(failures.errors[0].find("bad name [ERROR] inside"), std::string::npos);
}

TEST(DispatchTest, AFailingSinkStopsTheRunAndRollsRunningJobsBack) {
  struct ThrowingSink : ReportSink {
    void AddLine(std::string_view) override { throw Error("EFCreateError", "no log"); }
    void AddError(std::string_view) override { throw Error("EFCreateError", "no log"); }
  } sink;
  auto db = std::make_shared<MemoryDatabase>();
  WorkerSettings settings;
  settings.backend_factory = MemoryFactory(db);
  std::vector<JobOutcome> outcomes;
  EXPECT_THROW(RunJobsOnPool(ScriptJobs(20, 0), 4, settings, sink, &outcomes), Error);
  std::lock_guard<std::mutex> lock(db->mu);
  int commits = 0, begins = 0;
  for (const auto& e : db->events) {
    commits += e == "commit";
    begins += e == "begin";
  }
  // Only the jobs whose report was printed (at most one pass) committed.
  EXPECT_LT(commits, 20);
  EXPECT_LE(begins, 8);
  // Still every job that began has its outcome: the run report tells what
  // was committed and what was rolled back.
  int done = 0, failed = 0, not_run = 0;
  for (const JobOutcome& o : outcomes) {
    done += o.status == JobOutcome::Status::kDone;
    failed += o.status == JobOutcome::Status::kFailed;
    not_run += o.status == JobOutcome::Status::kNotRun;
  }
  EXPECT_EQ(done, commits);
  EXPECT_EQ(done + failed, begins);
  EXPECT_EQ(not_run, 20 - begins);
}

// The sink sees the running jobs, by job number, while they run, and once
// none when the pool has ended.
TEST(DispatchTest, ProgressListsTheRunningJobsAndEndsWithNone) {
  struct ProgressSink : RecordingSink {
    std::vector<std::vector<JobProgress>> shown;
    std::chrono::milliseconds progress_interval() const override {
      return std::chrono::milliseconds(1);
    }
    void ShowProgress(const std::vector<JobProgress>& running) override {
      shown.push_back(running);
    }
  } sink;
  auto db = std::make_shared<MemoryDatabase>();
  WorkerSettings settings;
  settings.backend_factory = MemoryFactory(db);
  EXPECT_FALSE(RunJobsOnPool(ScriptJobs(300, 0), 3, settings, sink));
  ExpectBlocks(sink.lines, 300);
  ASSERT_FALSE(sink.shown.empty());
  EXPECT_TRUE(sink.shown.back().empty());
  for (const std::vector<JobProgress>& running : sink.shown) {
    EXPECT_LE(running.size(), 3u);
    for (size_t i = 0; i < running.size(); ++i) {
      EXPECT_EQ(running[i].line, running[i].job + 2);
      if (i > 0) {
        EXPECT_LT(running[i - 1].job, running[i].job);
      }
      EXPECT_GE(running[i].elapsed.count(), 0);
    }
  }
}

}  // namespace
}  // namespace ostrevane
