#include <signal.h>
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

}  // namespace

int main(int argc, char** argv) { return ostrevane::Main(argc, argv); }
