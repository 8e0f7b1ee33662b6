// Turns SIGTERM and SIGINT into a StopRequest for the length of a list run,
// so that the run ends cleanly: the dispatcher starts no further job, running
// jobs roll back, their lines and the stop are logged and RESULT.TXT stays
// "ERROR". Without it the default action would kill the process mid-write.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

#include "workers/stop_request.h"

namespace ostrevane {

class SignalWatch {
 public:
  // Blocks the two signals in the calling thread, which every thread
  // started afterwards inherits, and starts the thread that waits for them.
  // Construct it on the main thread before any worker exists.
  explicit SignalWatch(StopRequest& stop);
  // Stops the waiting thread. The signals stay blocked: the process is
  // about to end, and a late signal must not kill it while it writes
  // RESULT.TXT.
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  void Watch();

  StopRequest& stop_;
  sigset_t signals_;
  std::atomic<bool> done_{false};
  std::thread thread_;  // last: starts after every other member exists
};

}  // namespace ostrevane
