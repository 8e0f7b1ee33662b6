// The dispatcher: runs the jobs of a list on a pool of workers.
//
// Hand-off protocol. A free worker resets its job event, appends itself to
// the ready list (under the list's lock) and sets the shared response event.
// The dispatcher wakes on the response event, locks the ready list and, for
// every worker in it in order, prints the worker's lines and either copies
// the next job into it and sets its job event, or retires it. It then
// empties the list and resets the response event before unlocking, so a
// worker that reports after the pass sets the event after the reset and is
// never missed. Only the dispatcher (main thread) prints.
#pragma once

#include <chrono>
#include <string_view>
#include <vector>

#include "control/job.h"
#include "log/progress_display.h"
#include "workers/job_run.h"

namespace ostrevane {

// Where the dispatcher writes the workers' lines (the log files and the
// console in the program, a recorder in tests), and shows the progress of
// the running jobs. All of it on the dispatcher's thread.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual void AddLine(std::string_view line) = 0;
  virtual void AddError(std::string_view line) = 0;
  // How often ShowProgress is called while jobs run; zero (the default):
  // never.
  virtual std::chrono::milliseconds progress_interval() const { return {}; }
  // The jobs running now, by job number, with the counters their workers
  // keep (rows read, bytes written); called every progress_interval(),
  // and once with none when the last worker has ended.
  virtual void ShowProgress(const std::vector<JobProgress>& running) { (void)running; }
};

// Runs every job once, in list order, on thread_count workers (at least 1)
// and returns whether any job reported an error line. If printing fails,
// no further job starts, the jobs still running are rolled back, not
// committed, and every job's outcome is still collected; the exception
// leaves after every worker has stopped. Once settings.stop is requested no
// further job starts, and running jobs roll back.
// With `outcomes`, it ends with one entry per job, in list order: how the
// job ended, or kNotRun for a job that never started.
bool RunJobsOnPool(const std::vector<Job>& jobs, int thread_count, const WorkerSettings& settings,
                   ReportSink& sink, std::vector<JobOutcome>* outcomes = nullptr);

}  // namespace ostrevane
