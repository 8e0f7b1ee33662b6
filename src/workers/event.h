// A manual-reset event: stays set until Reset(); Wait() returns at once
// while it is set. Any thread may Set, Reset or Wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/thread_annotations.h"

namespace ostrevane {

class ManualResetEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = false;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return signalled_; });
  }
  // Waits until the event is set or `deadline` has passed; returns whether
  // it is set.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_until(lock, deadline, [this] { return signalled_; });
  }
  bool IsSet() {
    std::lock_guard<std::mutex> lock(mu_);
    return signalled_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ GUARDED_BY(mu_) = false;
};

}  // namespace ostrevane
