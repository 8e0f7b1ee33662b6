// The counters of one running job, for the progress display: written by
// the thread that runs the job (the query counts rows, the output files
// count bytes) and read, at any moment, by the dispatcher's thread. Relaxed
// atomics: a reader needs a recent value, not an ordering, and a count
// costs a plain add on the writing thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrevane {

class ProgressMeter {
 public:
  void AddRows(int64_t n) { rows_.fetch_add(n, std::memory_order_relaxed); }
  void AddBytes(int64_t n) { bytes_.fetch_add(n, std::memory_order_relaxed); }
  int64_t rows() const { return rows_.load(std::memory_order_relaxed); }
  int64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
  // Zero for the next job; only while no job counts on it.
  void Reset() {
    rows_.store(0, std::memory_order_relaxed);
    bytes_.store(0, std::memory_order_relaxed);
  }

 private:
  std::atomic<int64_t> rows_{0};
  std::atomic<int64_t> bytes_{0};
};

}  // namespace ostrevane
