#include "data/file_turns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrevane {
namespace {

// Records who held a turn when, as "+name" on entry and "-name" on leaving.
class Journal {
 public:
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(event);
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> events_;
};

TEST(FileTurnsTest, TurnsComeInArrivalOrderAndReadersInARowShareOne) {
  FileTurns turns;
  Journal journal;
  FileTurn first = turns.Wait("db", TurnKind::kExclusive);
  // Arrival order, each one queued before the next comes. A reader that
  // comes behind a waiting writer waits behind it.
  struct {
    const char* name;
    TurnKind kind;
  } arrivals[] = {{"W1", TurnKind::kExclusive},
                  {"R2", TurnKind::kShared},
                  {"R3", TurnKind::kShared},
                  {"W4", TurnKind::kExclusive},
                  {"R5", TurnKind::kShared}};
  std::vector<std::thread> threads;
  for (const auto& a : arrivals) {
    threads.emplace_back([&turns, &journal, a] {
      FileTurn turn = turns.Wait("db", a.kind);
      journal.Add(std::string("+") + a.name);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      journal.Add(std::string("-") + a.name);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // Another file is not held up by any of them.
  { FileTurn other = turns.Wait("other.db", TurnKind::kExclusive); }
  first.Release();
  for (std::thread& t : threads) t.join();

  std::vector<std::string> events = journal.events();
  ASSERT_EQ(events.size(), 10u);
  // The two readers overlap, in either order.
  if (events[2] == "+R3") std::swap(events[2], events[3]);
  if (events[4] == "-R3") std::swap(events[4], events[5]);
  EXPECT_EQ(events, (std::vector<std::string>{"+W1", "-W1", "+R2", "+R3", "-R2", "-R3", "+W4",
                                              "-W4", "+R5", "-R5"}));
}

// A stopped job gives its place up: a writer that waits behind the holder
// leaves the queue when its stop flag is raised and the waiters are woken,
// and the reader that queued behind it goes ahead.
TEST(FileTurnsTest, AStoppedWaiterLeavesAndThoseBehindGoAhead) {
  FileTurns turns;
  FileTurn holder = turns.Wait("db", TurnKind::kShared);
  StopFlag stop;
  std::atomic<int> writer_held = -1;  // 1 held, 0 gave up
  std::thread writer([&] {
    writer_held = turns.Wait("db", TurnKind::kExclusive, &stop).held() ? 1 : 0;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::atomic<bool> reader_in = false;
  std::thread reader([&] {
    FileTurn turn = turns.Wait("db", TurnKind::kShared);
    reader_in = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(reader_in);  // behind the waiting writer
  stop.Raise(StopReason::kRunStopped);
  turns.WakeWaiters();
  writer.join();
  reader.join();
  EXPECT_EQ(writer_held, 0);
  EXPECT_TRUE(reader_in);
  EXPECT_TRUE(holder.held());
}

}  // namespace
}  // namespace ostrevane
