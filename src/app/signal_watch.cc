#include "app/signal_watch.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace ostrevane {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

// The exit status of a run ended at once: a stopped run's.
constexpr int kExitStopped = 1;

}  // namespace

void HoldStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A connection that a stopped job broke off (or a peer that went away)
  // must fail the write, not end the process.
  signal(SIGPIPE, SIG_IGN);
}

void ReleaseStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

SignalWatch::SignalWatch(StopRequest& stop) : stop_(stop), signals_(StopSignals()) {
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
  done_.store(true);
  // Wakes the thread at once instead of letting every run wait for the end
  // of its tick. The signal goes to that thread alone, which now ignores it.
  if (thread_.joinable()) {
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }
}

void SignalWatch::Watch() {
  using Clock = std::chrono::steady_clock;
  // The tick bounds the wait should the destructor's wake-up be lost, and
  // lets the forced end come on time.
  const timespec tick{0, 100'000'000};
  Clock::time_point first_signal{};
  while (!done_.load()) {
    const int signal_number = sigtimedwait(&signals_, nullptr, &tick);
    if (done_.load()) break;
    if (signal_number > 0) {
      // Someone insists: the clean end is given up. _exit, because the
      // other threads are still at work and nothing may run after them.
      if (stop_.requested()) _exit(kExitStopped);
      first_signal = Clock::now();
      stop_.Request(signal_number);
    } else if (first_signal != Clock::time_point{} && Clock::now() - first_signal >= kForcedEnd) {
      // A job that neither its cancel nor its broken-off connection ends (a
      // driver blocked on a server that stopped answering).
      _exit(kExitStopped);
    }
  }
}

}  // namespace ostrevane
