// The pool's writer lock: one job at a time writes its files, and a job
// that waits for its turn still ends when it is stopped.
//
// A mutex and a condition variable rather than std::timed_mutex: libstdc++
// waits on a timed_mutex with pthread_mutex_clocklock, which the thread
// sanitizer's runtime does not follow, so every unlock after a timed wait
// was reported as the unlock of a free mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/stop_flag.h"
#include "common/thread_annotations.h"

namespace ostrevane {

class WriterLock {
 public:
  // Holds the lock from a successful Take until it goes.
  class Hold {
   public:
    explicit Hold(WriterLock& lock) : lock_(lock) {}
    ~Hold() { lock_.Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    WriterLock& lock_;
  };

  // Waits until the lock is free and takes it; false (not taken) when
  // `stop` is raised first, which is checked every 100 ms.
  bool Take(const StopFlag& stop) {
    std::unique_lock<std::mutex> guard(mutex_);
    while (held_) {
      if (stop.raised()) return false;
      freed_.wait_for(guard, std::chrono::milliseconds(100));
    }
    held_ = true;
    return true;
  }

 private:
  void Release() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      held_ = false;
    }
    freed_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable freed_;
  bool held_ GUARDED_BY(mutex_) = false;
};

}  // namespace ostrevane
