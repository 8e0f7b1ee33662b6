#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/entry.h"

namespace {

// SIGTERM and SIGINT are held from the first instruction of the program on,
// before the libraries' constructors run: a signal that comes then waits
// for the run to take it, instead of killing the process while the last
// run's RESULT.TXT still says "OK" (Main holds them again, for good
// measure). The system call itself, because nothing of the C library (or a
// sanitizer's wrapper of it) may be ready this early.
void HoldStopSignalsAtLoad(int, char**, char**) {
  const unsigned long mask = (1UL << (SIGTERM - 1)) | (1UL << (SIGINT - 1));
  syscall(SYS_rt_sigprocmask, SIG_BLOCK, &mask, nullptr, sizeof mask);
}

[[gnu::section(".preinit_array"), gnu::used]] void (*const kHoldStopSignalsAtLoad)(
    int, char**, char**) = &HoldStopSignalsAtLoad;

// A job that delivers its files keeps each one open until its deliveries
// end (workers/job_run.cc), and a job may write thousands: the soft limit
// of open files (often 1024) goes up to the hard one, which every process
// may do. Nothing in the program waits on descriptors with select(), the
// one call that descriptor numbers past 1023 break.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RaiseOpenFileLimit();
  return ostrevane::Main(argc, argv);
}
