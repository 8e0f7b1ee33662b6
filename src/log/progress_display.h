// Progress of long runs on the console: what the dispatcher knows of each
// running job, shown either as live status lines on a terminal or, for
// logs that keep everything (a container's output), as one plain line per
// running job every 10 seconds. Never written to the log files, which keep
// their per-job blocks. Used on the main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/format_settings.h"
#include "log/console.h"

namespace ostrevane {

// One running job as the dispatcher sees it.
struct JobProgress {
  int job = 0;                           // the job's number in the run
  int line = 0;                          // its line in the list file
  int64_t rows = 0;                      // records read so far
  int64_t bytes = 0;                     // bytes written to its output files so far
  std::chrono::milliseconds elapsed{0};  // since the job was handed out
};

// "job 3, line 5: 1234567 rows read, 94.2 MiB written, 45678 rows/s, 0:01:23"
std::string ProgressText(const JobProgress& progress);
// A time span as "H:MM:SS" (whole seconds), as the progress and the
// summary of a run show it.
std::string ElapsedText(std::chrono::milliseconds elapsed);

class ProgressDisplay {
 public:
  enum class Mode {
    kOff,
    kLive,   // status lines on standard error, a terminal, redrawn
    kPlain,  // a line on standard output per job and 10 s of its run
  };
  static constexpr std::chrono::milliseconds kLiveInterval{250};  // at most 4 a second
  static constexpr std::chrono::milliseconds kPlainEvery{10000};

  ProgressDisplay(Mode mode, Console& console, FormatSettings formats);

  // How often Update wants to be called while jobs run; zero: never.
  std::chrono::milliseconds interval() const;
  // Live: the status lines become one per job of `running` (none clears
  // them). Plain: a line for each job that has run another 10 s since its
  // last one.
  void Update(const std::vector<JobProgress>& running);

 private:
  const Mode mode_;
  Console& console_;
  const FormatSettings formats_;
  std::map<int, int64_t> plain_lines_;  // per job: the 10 s marks already shown
};

}  // namespace ostrevane
