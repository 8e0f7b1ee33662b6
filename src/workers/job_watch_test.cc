#include "workers/job_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/error.h"
#include "testing/failure.h"

namespace ostrevane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A server whose statement runs until the program gives up on it: it ends
// on a cancel when it `answers`, else only when its connection is severed.
struct HangingServer {
  bool answers = true;
  std::mutex mu;
  std::condition_variable freed;
  bool canceled = false, severed = false;
};

class HangingBackend : public Backend {
 public:
  explicit HangingBackend(HangingServer& server) : server_(server) {}
  void Open(const ConnectionString&, int) override {}
  void Close() override {}
  void Begin() override {}
  void Commit() override {}
  void Rollback() override {}
  std::string Placeholder(size_t) const override { return "?"; }
  std::unique_ptr<Cursor> Run(const std::string&, const std::vector<BoundParam>&, int,
                              bool) override {
    std::unique_lock lock(server_.mu);
    server_.freed.wait(lock,
                       [&] { return (server_.canceled && server_.answers) || server_.severed; });
    throw Error(kEDatabaseError, server_.severed ? "connection lost" : "statement canceled");
  }
  void Cancel() override { Note(server_.canceled); }
  void Sever() override { Note(server_.severed); }

 private:
  void Note(bool& what) {
    {
      std::lock_guard lock(server_.mu);
      what = true;
    }
    server_.freed.notify_all();
  }
  HangingServer& server_;
};

// The watch ends a job blocked on its server: by the job's time limit or
// the run's stop, with a cancel, and with a severed connection when the
// server does not answer the cancel. The flag says why.
TEST(JobWatchTest, EndsABlockedJobByItsLimitOrTheRunsStop) {
  struct {
    const char* what;
    int time_limit;
    bool stop_run;
    bool server_answers;
    StopReason reason;
    bool severed;
    int at_least_ms, at_most_ms;  // how long the statement ran
  } cases[] = {
      {"time limit, server answers", 1, false, true, StopReason::kTimeLimit, false, 900, 1800},
      {"time limit, server silent", 1, false, false, StopReason::kTimeLimit, true, 1400, 2300},
      {"run stopped, server answers", 0, true, true, StopReason::kRunStopped, false, 0, 700},
      {"run stopped, server silent", 0, true, false, StopReason::kRunStopped, true, 400, 1300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HangingServer server;
    server.answers = c.server_answers;
    StopFlag flag;
    Connection connection(
        [&](const ConnectionString&) { return std::make_unique<HangingBackend>(server); });
    connection.set_stop_flag(&flag);
    connection.Open();
    Query query(connection);
    query.SetSql("select");
    JobWatch watch(flag);
    watch.Begin(connection, c.time_limit);
    const Clock::time_point start = Clock::now();
    if (c.stop_run) {
      std::this_thread::sleep_for(milliseconds(100));
      watch.StopRun();
    }
    EXPECT_NE(testing::FailureOf([&] { query.Open(); }), "");
    const auto ran = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    watch.End();
    EXPECT_GE(ran, c.at_least_ms);
    EXPECT_LE(ran, c.at_most_ms);
    EXPECT_EQ(flag.reason(), c.reason);
    EXPECT_TRUE(server.canceled);
    EXPECT_EQ(server.severed, c.severed);
  }
}

// A job that ends in time is left alone, and the next job starts with a
// lowered flag; once the run is stopped, every later job starts stopped.
TEST(JobWatchTest, LeavesJobsInTimeAloneAndStopsEveryJobAfterTheRunsStop) {
  HangingServer server;
  StopFlag flag;
  Connection connection(
      [&](const ConnectionString&) { return std::make_unique<HangingBackend>(server); });
  connection.set_stop_flag(&flag);
  JobWatch watch(flag);
  watch.Begin(connection, 1);
  watch.End();
  std::this_thread::sleep_for(milliseconds(1200));  // past the ended job's limit
  EXPECT_FALSE(flag.raised());
  EXPECT_FALSE(server.canceled);

  watch.StopRun();
  watch.Begin(connection, 0);
  EXPECT_EQ(flag.reason(), StopReason::kRunStopped);
  EXPECT_NE(testing::FailureOf([&] { connection.Open(); }), "");
  watch.End();
}

}  // namespace
}  // namespace ostrevane
