// The program's own time limit on an ODBC call, for drivers that do not
// enforce the time-out attribute they were given: a second thread waits for
// the deadline and then calls the cancel action once (SQLCancel on the
// running statement, which ODBC allows from another thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrevane::odbc {

class Watchdog {
 public:
  // Watches nothing when `seconds` <= 0. `cancel` runs on the watchdog's
  // thread, at most once, and never after Stop() has returned; it returns
  // whether the driver took the cancel.
  Watchdog(int seconds, std::function<bool()> cancel);
  ~Watchdog() { Stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Ends the watch; after it returns the cancel action is not running and
  // will not run. Idempotent.
  void Stop();
  // Whether the deadline passed and the cancel action ran.
  bool expired() const {
    std::lock_guard lock(mutex_);
    return expired_;
  }
  // Whether the deadline passed and the driver refused the cancel (the
  // statement then ran on until it ended by itself).
  bool cancel_failed() const {
    std::lock_guard lock(mutex_);
    return cancel_failed_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  bool expired_ = false;
  bool cancel_failed_ = false;
  std::thread thread_;
};

}  // namespace ostrevane::odbc
