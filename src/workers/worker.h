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
#include "data/file_turns.h"
#include "workers/event.h"
#include "workers/job_run.h"
#include "workers/job_watch.h"

namespace ostrevane {

class Worker;

// The ready list: workers that have reported and wait for the dispatcher.
struct ReadyList {
  std::mutex mu;
  std::vector<Worker*> workers GUARDED_BY(mu);
};

class Worker {
 public:
  // The thread starts at once, with its own copy of `settings`. The shared
  // objects must outlive the worker.
  Worker(ReadyList& ready_list, ManualResetEvent& response_event, WriterLock& writer_lock,
         FileTurns& file_turns, WorkerSettings settings);
  // Requests termination, stops a job still running, wakes the thread and
  // joins it.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // The job to run next. Written only by the dispatcher, and only while the
  // worker is in the ready list waiting on its job event.
  Job& job() { return job_; }
  // The lines of the job that just ended; read by the dispatcher under the
  // same rule as job().
  const std::vector<MessageLine>& lines() const { return messages_.lines(); }
  // How that job ended; same rule.
  const JobOutcome& outcome() const { return outcome_; }
  ManualResetEvent& job_event() { return job_event_; }
  // The running job's counters: read by the dispatcher at any time, and
  // zeroed by it when it hands over a job.
  ProgressMeter& meter() { return meter_; }

  // The running job (if any) is rolled back instead of committed; the
  // worker goes on reporting and serving.
  void CancelJob() { cancel_job_.store(true); }
  // Cancels the running job and ends the thread after it.
  void RequestStop() {
    cancel_job_.store(true);
    stop_requested_.store(true);
  }
  // Any thread: the run is being stopped; the running job, if any, is
  // stopped at once (see JobWatch).
  void StopJob() { watch_.StopRun(); }
  bool finished() const { return finished_.load(); }
  // Waits until the thread body has returned.
  void WaitFinished();

 private:
  void Run();

  ReadyList& ready_list_;
  ManualResetEvent& response_event_;
  WriterLock& writer_lock_;  // the writer lock, shared by the pool
  // Turns on database files, shared by the pool. A job takes its turn when
  // its transaction begins and keeps it until the commit or rollback; it
  // takes the writer lock only inside that, so the two never wait on each
  // other the other way round.
  FileTurns& file_turns_;
  const WorkerSettings settings_;
  ManualResetEvent job_event_;
  Job job_;
  MessageList messages_;
  JobOutcome outcome_;
  ProgressMeter meter_;
  std::atomic<bool> cancel_job_{false};
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> finished_{false};
  StopFlag stop_flag_;  // of the job being run; read by its connection and writers
  JobWatch watch_{stop_flag_};
  std::thread thread_;  // last: starts after every other member exists
};

}  // namespace ostrevane
