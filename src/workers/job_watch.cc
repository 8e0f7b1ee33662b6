#include "workers/job_watch.h"

namespace ostrevane {

using Clock = std::chrono::steady_clock;

JobWatch::JobWatch(StopFlag& flag) : flag_(flag), thread_([this] { Watch(); }) {}

JobWatch::~JobWatch() {
  {
    std::lock_guard lock(mu_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void JobWatch::Begin(Connection& connection, int time_limit_seconds) {
  {
    std::lock_guard lock(mu_);
    connection_ = &connection;
    deadline_.reset();
    if (time_limit_seconds > 0) deadline_ = Clock::now() + std::chrono::seconds(time_limit_seconds);
    canceled_at_.reset();
    severed_ = false;
    flag_.Clear();
    if (run_stopped_) flag_.Raise(StopReason::kRunStopped);  // no statement may start
  }
  wake_.notify_all();
}

void JobWatch::End() {
  std::unique_lock lock(mu_);
  wake_.wait(lock, [this] { return !busy_; });
  connection_ = nullptr;
}

void JobWatch::StopRun() {
  {
    std::lock_guard lock(mu_);
    run_stopped_ = true;
  }
  wake_.notify_all();
}

void JobWatch::Watch() {
  std::unique_lock lock(mu_);
  while (!done_) {
    if (!connection_) {
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point now = Clock::now();
    void (Connection::*action)() = nullptr;
    if (!canceled_at_) {
      const StopReason reason = run_stopped_                     ? StopReason::kRunStopped
                                : deadline_ && now >= *deadline_ ? StopReason::kTimeLimit
                                                                 : StopReason::kNone;
      if (reason != StopReason::kNone) {
        flag_.Raise(reason);  // before the cancel: the job starts nothing after it
        canceled_at_ = now;
        action = &Connection::Cancel;
      }
    } else if (!severed_ && now >= *canceled_at_ + kSeverAfter) {
      severed_ = true;
      action = &Connection::Sever;
    }
    if (action) {
      // Outside the lock: a driver may take its time, and StopRun must
      // not wait for it. End waits instead, so the connection still works
      // for this job while the call runs.
      Connection* connection = connection_;
      busy_ = true;
      lock.unlock();
      (connection->*action)();
      lock.lock();
      busy_ = false;
      wake_.notify_all();
      continue;
    }
    if (!canceled_at_ && deadline_)
      wake_.wait_until(lock, *deadline_);
    else if (canceled_at_ && !severed_)
      wake_.wait_until(lock, *canceled_at_ + kSeverAfter);
    else
      wake_.wait(lock);
  }
}

}  // namespace ostrevane
