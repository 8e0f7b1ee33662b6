// Turns on shared database files for the connections of one run. Jobs that
// work on the same embedded database file take turns here, inside the
// process, before they begin their transactions: any number of reading
// transactions at once, or one writing transaction alone, in the order in
// which they asked. So a job waits for the jobs ahead of it however long
// they take, and the database's own lock time-out is left to other
// programs that use the file.
//
// Threads: any thread may wait for and release turns. The registry must
// outlive every turn taken from it.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/stop_flag.h"
#include "common/thread_annotations.h"

namespace ostrevane {

enum class TurnKind {
  kShared,     // a reading transaction: shares its turn with other readers
  kExclusive,  // a writing transaction: alone on the file
};

// The first-come-first-served queue of one file. A shared request is
// granted when no writer holds the file and nobody waits ahead of it; an
// exclusive one when nobody holds the file and nobody waits ahead of it.
// A reader that comes after a waiting writer therefore waits behind it, so
// a stream of readers never starves a writer.
class FileQueue {
 public:
  // Blocks, without a time limit, until the caller's turn comes (true), or
  // until `stop` (may be null) is raised and Wake() called (false: the
  // request is withdrawn).
  bool Enter(TurnKind kind, const StopFlag* stop = nullptr);
  void Leave(TurnKind kind);
  // Wakes the waiters, so that those whose stop flag is raised give up.
  void Wake();

 private:
  struct Request {
    TurnKind kind;
    bool granted = false;
  };
  void GrantFromFront() REQUIRES(mu_);

  std::mutex mu_;
  std::condition_variable granted_;
  std::deque<Request*> waiting_ GUARDED_BY(mu_);  // each lives on its waiter's stack
  int readers_ GUARDED_BY(mu_) = 0;
  bool writer_ GUARDED_BY(mu_) = false;
};

// A granted turn; given back when released or destroyed. Move-only.
class FileTurn {
 public:
  FileTurn() = default;
  ~FileTurn() { Release(); }
  FileTurn(FileTurn&& other) noexcept;
  FileTurn& operator=(FileTurn&& other) noexcept;
  FileTurn(const FileTurn&) = delete;
  FileTurn& operator=(const FileTurn&) = delete;

  void Release();
  bool held() const { return queue_ != nullptr; }

 private:
  friend class FileTurns;
  FileTurn(FileQueue* queue, TurnKind kind) : queue_(queue), kind_(kind) {}

  FileQueue* queue_ = nullptr;
  TurnKind kind_ = TurnKind::kShared;
};

// The queues of a run, one per file key. A key names a file however it was
// reached (the SQLite backend uses its device and inode numbers). Queues
// stay until the registry goes: a run touches few files.
class FileTurns {
 public:
  // Blocks until the caller's turn on `key` comes. Returns a turn that is
  // not held when `stop` (may be null) was raised meanwhile and
  // WakeWaiters() called.
  FileTurn Wait(const std::string& key, TurnKind kind, const StopFlag* stop = nullptr);
  // Any thread: wakes every waiter, after a stop flag was raised.
  void WakeWaiters();

 private:
  std::mutex mu_;
  std::map<std::string, std::unique_ptr<FileQueue>> queues_ GUARDED_BY(mu_);
};

}  // namespace ostrevane
