// RESULT.json: the machine-readable report of a list run, written beside
// RESULT.TXT. The first version is written when the run starts (no end, no
// exit status: a run that dies leaves that), the last when it ends however
// it ends. The schema is described in the manual (logs page).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "control/job.h"
#include "workers/job_run.h"

namespace ostrevane {

struct RunReport {
  std::string version;    // the program's version line
  std::string start;      // ISO 8601 with offset
  std::string end;        // empty while the run goes on
  std::string list_file;  // as given on the command line; empty for -run
  std::optional<int> exit_status;
  std::string error;      // what ended the run early, if anything did
  int part_k = 0, part_n = 0;  // 0: the run was not given -part
  std::vector<Job> jobs;  // the jobs this run (or part) is to run, in list order
  std::vector<JobOutcome> outcomes;  // same order; missing entries count as not run
};

// The moment `seconds` since the epoch as "YYYY-MM-DDTHH:MM:SS+HH:MM", local time.
std::string IsoLocalTime(long long seconds);
std::string IsoNow();

// The line that ends a list run's log: "Summary: 3 jobs: 1 done, 1 failed
// (job 2, line 3), 1 not run; 2 files, 1234 bytes written; elapsed 0:00:05".
std::string SummaryLine(const RunReport& report, std::chrono::milliseconds elapsed);

// The report as JSON text; every list line masked (MaskedListLine).
std::string RunReportJson(const RunReport& report);

// The jobs as the report keeps them: copies without their SQL texts, which
// the report never shows and which can be large.
std::vector<Job> JobsForReport(const std::vector<Job>& jobs);

}  // namespace ostrevane
