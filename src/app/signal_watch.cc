#include "app/signal_watch.h"

#include <pthread.h>

#include <cerrno>
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

}  // namespace

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
  // The tick only bounds the wait should the destructor's wake-up be lost.
  const timespec tick{0, 100'000'000};
  while (!done_.load()) {
    const int signal_number = sigtimedwait(&signals_, nullptr, &tick);
    if (signal_number > 0 && !done_.load()) stop_.Request(signal_number);
  }
}

}  // namespace ostrevane
