#include "delivery/retry.h"

#include <algorithm>
#include <thread>

namespace ostrevane::delivery {
namespace {

using std::chrono::milliseconds;

std::string WaitText(milliseconds wait) {
  const auto ms = wait.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

std::chrono::steady_clock::time_point SteadyRetryClock::Now() {
  return std::chrono::steady_clock::now();
}

bool SteadyRetryClock::Sleep(milliseconds wait) {
  const auto end = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (stopped_ && stopped_()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now,
                                                                              milliseconds(200)));
  }
}

milliseconds RetryDelay(const RetryPolicy& policy, int retry) {
  milliseconds wait = std::max(policy.first_delay, milliseconds(0));
  for (int i = 1; i < retry && wait < kMaxRetryDelay; ++i) wait *= 2;
  return std::min(wait, kMaxRetryDelay);
}

void RunWithRetries(const std::string& transport, long total_ms, const RetryPolicy& policy,
                    const std::function<void(long ms_left)>& attempt) {
  SteadyRetryClock steady;
  RetryClock& clock = policy.clock ? *policy.clock : steady;
  const auto start = clock.Now();
  const auto deadline = start + milliseconds(total_ms);
  for (int retry = 1;; ++retry) {
    long left = 0;
    if (total_ms > 0) {
      left = long(std::chrono::duration_cast<milliseconds>(deadline - clock.Now()).count());
      if (left < 1) left = 1;  // the transfer then reports the delivery_timeout itself
    }
    try {
      attempt(left);
      return;
    } catch (const DeliveryError& e) {
      if (!e.transient() || retry > policy.retries || (policy.stop && policy.stop->raised())) throw;
      const milliseconds wait = RetryDelay(policy, retry);
      if (total_ms > 0 && clock.Now() + wait >= deadline)
        throw DeliveryError(
            Error(e.class_name(), e.message() + " (not tried again: a wait of " + WaitText(wait) +
                                      " would pass the delivery_timeout of " +
                                      WaitText(milliseconds(total_ms)) + ")"),
            false, e.left_behind());
      if (policy.note)
        policy.note(transport + " delivery failed, trying again in " + WaitText(wait) + " (retry " +
                    std::to_string(retry) + " of " + std::to_string(policy.retries) +
                    "): " + e.message());
      if (!clock.Sleep(wait)) throw;
    }
  }
}

}  // namespace ostrevane::delivery
