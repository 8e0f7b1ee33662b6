// A thread that hashes the blocks of the files of one writer call while the
// writer goes on formatting rows, so that checksums cost the writer little
// more than a copy of its bytes. Blocks of one digest are hashed in the
// order submitted. The queue is bounded: a writer faster than the hashing
// waits for it rather than holding the whole file in memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"

namespace ostrevane {

class HashThread {
 public:
  static constexpr size_t kMaxQueued = 4;

  HashThread() = default;
  // Drops the blocks still queued and joins the thread. Whatever the
  // submitted tasks refer to must outlive this object.
  ~HashThread();
  HashThread(const HashThread&) = delete;
  HashThread& operator=(const HashThread&) = delete;

  // Queues `task` (which hashes one block it owns); starts the thread on
  // first use. Waits while kMaxQueued tasks are queued.
  void Submit(std::function<void()> task);
  // Returns once every task submitted so far has run.
  void Drain();

  // An empty block with room for `size` bytes, reused from Recycle when one
  // is at hand: a new block for every megabyte of output would cost page
  // faults on every one of them.
  std::string TakeBlock(size_t size);
  // Gives a hashed block back for reuse (any thread).
  void Recycle(std::string block);

 private:
  void Run();

  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_ GUARDED_BY(mu_);
  bool busy_ GUARDED_BY(mu_) = false;  // a task is running
  bool stop_ GUARDED_BY(mu_) = false;
  std::vector<std::string> spare_ GUARDED_BY(mu_);  // at most kMaxQueued + 1
  std::thread thread_;  // started by the first Submit
};

}  // namespace ostrevane
