// Turns SIGTERM and SIGINT into a StopRequest for the length of a list run,
// so that the run ends cleanly and soon: the dispatcher starts no further
// job, running jobs are stopped and rolled back, their lines and the stop
// are logged and RESULT.TXT stays "ERROR". Without it the default action
// would kill the process mid-write.
#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "workers/stop_request.h"

namespace ostrevane {

// Blocks SIGTERM and SIGINT in the calling thread and every thread started
// afterwards, and makes a write to a broken connection fail instead of
// raising SIGPIPE. The first thing the program does: a signal that comes
// before the watcher runs waits for it, and so can never kill the process
// while the last run's RESULT.TXT still says "OK".
void HoldStopSignals();
// The signals' default actions again, with any signal that came meanwhile
// delivered now (for the runs that have nothing to stop cleanly).
void ReleaseStopSignals();

class SignalWatch {
 public:
  // Starts the thread that takes the signals (held since HoldStopSignals).
  // The first one requests the stop. A second one, or a run that has not
  // ended kForcedEnd after the first, ends the process at once with exit
  // status 1: RESULT.TXT says "ERROR" already.
  explicit SignalWatch(StopRequest& stop);
  // Stops the waiting thread. The signals stay blocked: the process is
  // about to end, and a late signal must not kill it while it writes
  // RESULT.TXT.
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  static constexpr std::chrono::seconds kForcedEnd{10};

 private:
  void Watch();

  StopRequest& stop_;
  sigset_t signals_;
  std::atomic<bool> done_{false};
  std::thread thread_;  // last: starts after every other member exists
};

}  // namespace ostrevane
