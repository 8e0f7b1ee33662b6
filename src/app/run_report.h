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

// A file a job read (its SQL, its report template, its mail body) and its
// SHA-256 when the list was read: what the job ran, for comparing runs.
struct InputFile {
  std::string role;    // "sql", "post_sql", "per_record_sql", "report_template", "mail_body"
  std::string path;    // absolute
  std::string sha256;  // empty when the file could not be read again
};

struct RunReport {
  std::string version;    // the program's version line
  std::string start;      // ISO 8601 with offset
  std::string end;        // empty while the run goes on
  long long start_unix = 0, end_unix = 0;  // the same moments, seconds since 1970
  std::string list_file;  // as given on the command line; empty for -run
  std::string list_sha256;  // of the list file's bytes as read; empty until read
  // Which jobs of the list the run chose ("-jobs:5,7-9", "-rerun:PATH");
  // empty: every job (of the part).
  std::string selection;
  std::optional<int> exit_status;
  std::string error;      // what ended the run early, if anything did
  int part_k = 0, part_n = 0;  // 0: the run was not given -part
  std::vector<Job> jobs;  // the jobs this run (or part) is to run, in list order
  std::vector<std::vector<InputFile>> inputs;  // same order: the files each job read
  std::vector<JobOutcome> outcomes;  // same order; missing entries count as not run
};

// The report's schema number: "schema" in RESULT.json.
inline constexpr int kRunReportSchema = 1;

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

// The files each job read, with their SHA-256 (each file hashed once, read
// again now that the list is read).
std::vector<std::vector<InputFile>> InputFilesOf(const std::vector<Job>& jobs);

// The status of a job as the report writes it: "done", "failed", "not run".
const char* JobStatusText(JobOutcome::Status status);

}  // namespace ostrevane
