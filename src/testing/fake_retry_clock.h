// A RetryClock for tests: time moves only by the waits asked of it, so
// retries with waits of minutes run at once.
#pragma once

#include <vector>

#include "delivery/retry.h"

namespace ostrevane::delivery {

class FakeRetryClock : public RetryClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return start_ + slept_; }
  bool Sleep(std::chrono::milliseconds wait) override {
    waits.push_back(wait);
    slept_ += wait;
    return true;
  }
  std::vector<std::chrono::milliseconds> waits;

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::milliseconds slept_{0};
};

// A policy of `retries` with the fake clock, its notes kept in `notes`.
inline RetryPolicy FakeRetries(int retries, FakeRetryClock& clock, std::vector<std::string>& notes) {
  RetryPolicy p;
  p.retries = retries;
  p.clock = &clock;
  p.note = [&notes](const std::string& n) { notes.push_back(n); };
  return p;
}

}  // namespace ostrevane::delivery
