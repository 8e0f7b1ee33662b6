// A request to end a run early (SIGTERM, SIGINT), made on one thread and
// read by the dispatcher and every worker. Once made it stays: no further
// job starts, and jobs still running are rolled back instead of committed.
#pragma once

#include <atomic>

namespace ostrevane {

class StopRequest {
 public:
  // The first request wins; later ones keep its signal number.
  void Request(int signal_number) {
    int none = 0;
    signal_.compare_exchange_strong(none, signal_number);
  }
  bool requested() const { return signal_.load() != 0; }
  // The signal that asked for the stop; 0 while none has.
  int signal_number() const { return signal_.load(); }

 private:
  std::atomic<int> signal_{0};
};

}  // namespace ostrevane
