#include "workers/dispatcher.h"

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "workers/event.h"
#include "workers/worker.h"

namespace ostrevane {

bool RunJobsOnPool(const std::vector<Job>& jobs, int thread_count, const WorkerSettings& settings,
                   ReportSink& sink, std::vector<JobOutcome>* outcomes) {
  if (outcomes) outcomes->assign(jobs.size(), JobOutcome{});
  // The job each busy worker was given, by its place in `jobs`.
  std::unordered_map<const Worker*, size_t> running;
  ReadyList ready;
  std::timed_mutex writer_lock;
  FileTurns file_turns;
  ManualResetEvent response;
  bool error_flag = false;
  // A stop request wakes the loop below, which then stops the running jobs.
  std::optional<StopRequest::WakeUp> wake_on_stop;
  if (settings.stop) wake_on_stop.emplace(*settings.stop, [&response] { response.Set(); });
  bool jobs_stopped = false;

  // Declared after the shared objects, so on every way out the workers are
  // stopped and joined before those objects go away.
  std::vector<std::unique_ptr<Worker>> pool;
  const int count = thread_count < 1 ? 1 : thread_count;
  for (int i = 0; i < count; ++i)
    pool.push_back(std::make_unique<Worker>(ready, response, writer_lock, file_turns, settings));

  size_t next_job = 0;
  int live = count;
  while (live > 0) {
    response.Wait();
    std::lock_guard<std::mutex> lock(ready.mu);
    for (Worker* worker : ready.workers) {
      if (const auto it = running.find(worker); it != running.end()) {
        if (outcomes) (*outcomes)[it->second] = worker->outcome();
        running.erase(it);
      }
      for (const MessageLine& line : worker->lines()) {
        if (line.is_error) {
          error_flag = true;
          sink.AddError(line.text);
        } else {
          sink.AddLine(line.text);
        }
      }
      const bool stopped = settings.stop && settings.stop->requested();
      if (next_job < jobs.size() && !stopped) {
        running[worker] = next_job;
        worker->job() = jobs[next_job++];
        worker->job_event().Set();
      } else {
        worker->RequestStop();
        worker->job_event().Set();
        worker->WaitFinished();
        for (auto& owned : pool)
          if (owned.get() == worker) owned.reset();
        --live;
      }
    }
    ready.workers.clear();
    response.Reset();
    // After the reset: a request that set the event before it is seen here.
    if (!jobs_stopped && settings.stop && settings.stop->requested()) {
      jobs_stopped = true;
      for (auto& worker : pool)
        if (worker) worker->StopJob();
    }
  }
  return error_flag;
}

}  // namespace ostrevane
