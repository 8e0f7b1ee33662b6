// A worker of the pool: a thread that reports itself ready, waits for its
// job event, runs the job the dispatcher copied into it, and reports again
// with the job's lines. The dispatcher creates, serves and retires workers;
// see dispatcher.h for the hand-off protocol.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "control/job.h"
#include "workers/event.h"
#include "workers/job_run.h"

namespace ostrevane {

class tQueryThread;

// The ready list: workers that have reported and wait for the dispatcher.
struct ReadyList {
  std::mutex mu;
  std::vector<tQueryThread*> workers GUARDED_BY(mu);
};

class tQueryThread {
 public:
  // The thread starts at once, with its own copy of `settings`.
  tQueryThread(ReadyList& aThreadList, ManualResetEvent& aResponseEvent, std::mutex& aFileQueue,
               WorkerSettings settings);
  // Requests termination, wakes the thread and joins it.
  ~tQueryThread();
  tQueryThread(const tQueryThread&) = delete;
  tQueryThread& operator=(const tQueryThread&) = delete;

  // The job to run next. Written only by the dispatcher, and only while the
  // worker is in the ready list waiting on its job event.
  tRec& Rec() { return fa; }
  // The lines of the job that just ended; read by the dispatcher under the
  // same rule as Rec().
  const std::vector<std::string>& Log() const { return fLog.lines(); }
  ManualResetEvent& JobEvent() { return fJobEvent; }

  void Terminate() { fTerminated.store(true); }
  bool Finished() const { return fFinished.load(); }
  // Waits until the thread body has returned.
  void WaitFinished();

 private:
  void Execute();

  ReadyList& fThreadList;
  ManualResetEvent& fResponseEvent;
  std::mutex& ffq;  // the writer lock, shared by the pool
  const WorkerSettings fSettings;
  ManualResetEvent fJobEvent;
  tRec fa;
  MessageList fLog;
  std::atomic<bool> fTerminated{false};
  std::atomic<bool> fFinished{false};
  std::thread fThread;  // last: starts after every other member exists
};

}  // namespace ostrevane
