#include "workers/dispatcher.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "workers/event.h"
#include "workers/worker.h"

namespace ostrevane {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A job being run: its place in the list and when it was handed out.
struct RunningJob {
  size_t index;
  SteadyClock::time_point start;
};

std::vector<JobProgress> ProgressOf(const std::unordered_map<Worker*, RunningJob>& running,
                                    const std::vector<Job>& jobs) {
  const SteadyClock::time_point now = SteadyClock::now();
  std::vector<JobProgress> list;
  list.reserve(running.size());
  for (const auto& [worker, job] : running) {
    JobProgress p;
    p.job = jobs[job.index].run_number;
    p.line = jobs[job.index].list_line_number;
    p.rows = worker->meter().rows();
    p.bytes = worker->meter().bytes();
    p.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - job.start);
    list.push_back(p);
  }
  std::sort(list.begin(), list.end(),
            [](const JobProgress& a, const JobProgress& b) { return a.job < b.job; });
  return list;
}

}  // namespace

bool RunJobsOnPool(const std::vector<Job>& jobs, int thread_count, const WorkerSettings& settings,
                   ReportSink& sink, std::vector<JobOutcome>* outcomes) {
  if (outcomes) outcomes->assign(jobs.size(), JobOutcome{});
  // The jobs the busy workers were given.
  std::unordered_map<Worker*, RunningJob> running;
  ReadyList ready;
  WriterLock writer_lock;
  FileTurns file_turns;
  ManualResetEvent response;
  bool error_flag = false;
  // The first failure to print: from then on no job starts, the running
  // ones are rolled back, and it leaves once every worker has ended.
  std::exception_ptr print_failure;
  auto print = [&](auto&& show) {
    try {
      show();
    } catch (const std::exception&) {
      if (print_failure) return;
      print_failure = std::current_exception();
      for (auto& [worker, job] : running) worker->CancelJob();
    }
  };
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

  const std::chrono::milliseconds progress_every = sink.progress_interval();
  SteadyClock::time_point next_progress = SteadyClock::now() + progress_every;
  size_t next_job = 0;
  int live = count;
  while (live > 0) {
    if (progress_every.count() <= 0) {
      response.Wait();
    } else {
      // Also when workers report all the time: the progress comes on time.
      response.WaitUntil(next_progress);
      if (SteadyClock::now() >= next_progress) {
        print([&] { sink.ShowProgress(ProgressOf(running, jobs)); });
        next_progress = SteadyClock::now() + progress_every;
      }
    }
    // A pass after a wait that timed out finds the list empty, or a report
    // that came just now; either way the reset below is under the lock.
    std::lock_guard<std::mutex> lock(ready.mu);
    for (Worker* worker : ready.workers) {
      if (const auto it = running.find(worker); it != running.end()) {
        if (outcomes) (*outcomes)[it->second.index] = worker->outcome();
        running.erase(it);
      }
      for (const MessageLine& line : worker->lines()) {
        error_flag |= line.is_error;
        print([&] { line.is_error ? sink.AddError(line.text) : sink.AddLine(line.text); });
      }
      const bool stopped = (settings.stop && settings.stop->requested()) || print_failure;
      if (next_job < jobs.size() && !stopped) {
        running[worker] = {next_job, SteadyClock::now()};
        worker->meter().Reset();
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
  print([&] { sink.ShowProgress({}); });  // the last status lines go
  if (print_failure) std::rethrow_exception(print_failure);
  return error_flag;
}

}  // namespace ostrevane
