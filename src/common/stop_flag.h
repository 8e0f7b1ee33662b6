// The stop flag of one job: raised by another thread (the worker's job
// watch) when the run is being stopped or the job's time limit has passed,
// and read by the job's own thread wherever it may spend long: between two
// rows of a result, in a transfer's progress callback, in waits for a lock
// or a turn. Reading it costs one relaxed atomic load, so a row loop may ask
// at every row.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrevane {

enum class StopReason : uint8_t {
  kNone,
  kRunStopped,  // a signal asked the run to end
  kTimeLimit,   // the job's job_timeout passed
};

class StopFlag {
 public:
  // Any thread. The first reason stays until Clear().
  void Raise(StopReason reason) {
    uint8_t none = uint8_t(StopReason::kNone);
    reason_.compare_exchange_strong(none, uint8_t(reason));
  }
  // The owner, between two jobs, while nothing can raise it.
  void Clear() { reason_.store(uint8_t(StopReason::kNone)); }

  bool raised() const {
    return reason_.load(std::memory_order_relaxed) != uint8_t(StopReason::kNone);
  }
  StopReason reason() const { return StopReason(reason_.load()); }

 private:
  std::atomic<uint8_t> reason_{uint8_t(StopReason::kNone)};
};

}  // namespace ostrevane
