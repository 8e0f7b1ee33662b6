#pragma once

namespace ostrevane {

// The program: reads the command line, picks the run mode and returns the
// exit status (0 done, 1 a list run ended with ERROR, 2 a run-ending error).
int Main(int argc, char** argv);

}  // namespace ostrevane
