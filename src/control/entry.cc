#include "control/entry.h"

#include "log/console.h"

namespace ostrevane {

// Placeholder until the run modes land.
int Main(int argc, char**) {
  if (argc <= 1) ConsoleLine("Use -help");
  return 0;
}

}  // namespace ostrevane
