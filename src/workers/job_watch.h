// Ends a worker's running job early. When the run is being stopped
// (StopRun) or the job's time limit passes, the watch raises the job's stop
// flag, so that its writers end at the next row and its transfers and waits
// give up, and cancels the statement on its connection (Connection::Cancel).
// Should the job still run kSeverAfter later, blocked on a server that
// answers neither its statement nor the cancel, the watch breaks the
// connection off (Connection::Sever). The job then rolls back and reports
// why it was stopped.
//
// Threads: one watch thread per worker, so a cancel that waits for a driver
// holds up no other job. Begin and End come from the worker's thread,
// StopRun from any thread; none of them waits for a cancel under way but
// End, which must not let a cancel meant for one job reach the next.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "common/stop_flag.h"
#include "common/thread_annotations.h"
#include "data/dataset.h"

namespace ostrevane {

class JobWatch {
 public:
  // How long a canceled job may take to let go of its connection before it
  // is broken off: a server that answers takes a few milliseconds.
  static constexpr std::chrono::milliseconds kSeverAfter{500};

  // `flag` is the one the worker's jobs read; it must outlive the watch.
  explicit JobWatch(StopFlag& flag);
  ~JobWatch();
  JobWatch(const JobWatch&) = delete;
  JobWatch& operator=(const JobWatch&) = delete;

  // A job begins on `connection` (which must outlive the job) with
  // `time_limit_seconds` (0 or less: none) counted from now. The flag is
  // lowered, unless the run is being stopped.
  void Begin(Connection& connection, int time_limit_seconds);
  // The job has ended; returns once no cancel of it is under way.
  void End();
  // The run is being stopped: the running job and any later one are
  // stopped at once.
  void StopRun();

 private:
  void Watch();

  StopFlag& flag_;
  std::mutex mu_;
  std::condition_variable wake_;
  Connection* connection_ GUARDED_BY(mu_) = nullptr;  // of the running job
  std::optional<std::chrono::steady_clock::time_point> deadline_ GUARDED_BY(mu_);
  std::optional<std::chrono::steady_clock::time_point> canceled_at_ GUARDED_BY(mu_);
  bool severed_ GUARDED_BY(mu_) = false;
  bool busy_ GUARDED_BY(mu_) = false;  // a Cancel or Sever is under way
  bool run_stopped_ GUARDED_BY(mu_) = false;
  bool done_ GUARDED_BY(mu_) = false;
  std::thread thread_;  // last: starts after every other member exists
};

}  // namespace ostrevane
