#include "workers/worker.h"

namespace ostrevane {

Worker::Worker(ReadyList& ready_list, ManualResetEvent& response_event,
               WriterLock& writer_lock, FileTurns& file_turns, WorkerSettings settings)
    : ready_list_(ready_list),
      response_event_(response_event),
      writer_lock_(writer_lock),
      file_turns_(file_turns),
      settings_(std::move(settings)),
      messages_(settings_.format),
      thread_([this] { Run(); }) {}

Worker::~Worker() {
  RequestStop();
  watch_.StopRun();  // a job still running ends now, not at its end
  job_event_.Set();
  WaitFinished();
}

void Worker::WaitFinished() {
  if (thread_.joinable()) thread_.join();
}

void Worker::Run() {
  {
    // The connection and queries live on this thread, for all its jobs.
    Connection connection(settings_.backend_factory);
    connection.set_connection_timeout(settings_.connection_timeout);
    connection.set_command_timeout(settings_.command_timeout);
    connection.set_file_turns(&file_turns_);
    connection.set_stop_flag(&stop_flag_);
    Query query(connection);
    query.set_command_timeout(settings_.command_timeout);
    query.set_meter(&meter_);
    Query record_query(connection);
    for (;;) {
      job_event_.Reset();
      // A termination requested while the last job ran must not be lost
      // with the reset above.
      if (stop_requested_.load()) break;
      {
        std::lock_guard<std::mutex> lock(ready_list_.mu);
        ready_list_.workers.push_back(this);
      }
      response_event_.Set();
      job_event_.Wait();
      if (stop_requested_.load()) break;
      messages_.Clear();
      outcome_ = JobOutcome{};
      job_.meter = &meter_;
      JobResources resources{connection,   query,     record_query, job_,       settings_,
                             writer_lock_, messages_, cancel_job_,  stop_flag_, outcome_};
      watch_.Begin(connection, JobTimeLimit(job_, settings_));
      RunJob(resources);
      watch_.End();
    }
  }
  finished_.store(true);
}

}  // namespace ostrevane
