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
  if (thread_.joinable()) thread_.join();
}

void SignalWatch::Watch() {
  // A short wait in a loop: the destructor needs no signal of its own to
  // end the thread.
  const timespec tick{0, 100'000'000};
  while (!done_.load()) {
    const int signal_number = sigtimedwait(&signals_, nullptr, &tick);
    if (signal_number > 0) stop_.Request(signal_number);
  }
}

}  // namespace ostrevane
