// A request to end a run early (SIGTERM, SIGINT), made on one thread and
// read by the dispatcher and every worker. Once made it stays: no further
// job starts, and jobs still running are stopped and rolled back.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "common/thread_annotations.h"

namespace ostrevane {

class StopRequest {
 public:
  // The first request wins; later ones keep its signal number. The first
  // one also calls the wake-up, on the requesting thread.
  void Request(int signal_number) {
    int none = 0;
    if (!signal_.compare_exchange_strong(none, signal_number)) return;
    std::lock_guard lock(mu_);
    if (wake_) wake_();
  }
  bool requested() const { return signal_.load() != 0; }
  // The signal that asked for the stop; 0 while none has.
  int signal_number() const { return signal_.load(); }

  // While it lives, a request calls `wake` (at once when one was made
  // already): the dispatcher of a run uses it to leave its wait and stop
  // the running jobs. One at a time; `wake` must not block.
  class WakeUp {
   public:
    WakeUp(const StopRequest& stop, std::function<void()> wake) : stop_(stop) {
      std::lock_guard lock(stop_.mu_);
      stop_.wake_ = std::move(wake);
      if (stop_.requested()) stop_.wake_();
    }
    ~WakeUp() {
      std::lock_guard lock(stop_.mu_);
      stop_.wake_ = nullptr;
    }
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

   private:
    const StopRequest& stop_;
  };

 private:
  std::atomic<int> signal_{0};
  // Who is woken; not part of the request's state, so a reader may register.
  mutable std::mutex mu_;
  mutable std::function<void()> wake_ GUARDED_BY(mu_);
};

}  // namespace ostrevane
