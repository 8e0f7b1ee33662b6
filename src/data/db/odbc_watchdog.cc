#include "data/db/odbc_watchdog.h"

namespace ostrevane::odbc {

Watchdog::Watchdog(int seconds, std::function<bool()> cancel) {
  if (seconds <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  thread_ = std::thread([this, deadline, cancel = std::move(cancel)] {
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, deadline, [this] { return stopped_; })) return;
    // The cancel runs under the lock: Stop() waits for it, so the caller
    // never proceeds with a handle that is being canceled.
    expired_ = true;
    cancel_failed_ = !cancel();
  });
}

void Watchdog::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace ostrevane::odbc
