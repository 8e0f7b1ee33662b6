// The dispatcher's own cost per job: N script jobs whose backend does no
// work at all run on W workers, so the time per job is the hand-off, the
// job bookkeeping and the printing of its lines (to a sink that drops them).
//
//   dispatch_overhead [JOBS] [WORKERS]     (defaults 100000 and 5)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "workers/dispatcher.h"

namespace {

using namespace ostrevane;


class NullBackend : public Backend {
 public:
  void Open(const ConnectionString&, int) override {}
  void Close() override {}
  void Begin() override {}
  void Commit() override {}
  void Rollback() override {}
  std::string Placeholder(size_t i) const override { return "?" + std::to_string(i + 1); }
  std::unique_ptr<Cursor> Run(const std::string&, const std::vector<BoundParam>&, int,
                              bool) override {
    return std::make_unique<EmptyCursor>();
  }
};

struct CountingSink : ReportSink {
  size_t lines = 0;
  void AddLine(std::string_view) override { ++lines; }
  void AddError(std::string_view) override { ++lines; }
};

}  // namespace

int main(int argc, char** argv) {
  const int jobs_n = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int workers = argc > 2 ? std::atoi(argv[2]) : 5;
  std::vector<Job> jobs(jobs_n);
  for (Job& j : jobs) j.sql = "select 1";
  WorkerSettings ws;
  ws.backend_factory = [](const ConnectionString&) { return std::make_unique<NullBackend>(); };
  CountingSink sink;
  const auto start = std::chrono::steady_clock::now();
  RunJobsOnPool(jobs, workers, ws, sink);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d jobs on %d workers: %.3f s, %.1f us per job, %.0f jobs/s (%zu lines)\n", jobs_n,
              workers, s, s * 1e6 / jobs_n, jobs_n / s, sink.lines);
}
