// Helpers shared by the fuzz targets: a scratch folder for the files a
// target must hand to code that reads files, and the check that stops a
// run when an oracle fails.
//
// A fuzz target runs on one thread; nothing here is thread-safe.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace ostrevane::fuzz {

// The folder of this process's scratch files ("/tmp/ostrevane-fuzz-XXXXXX",
// no trailing "/"), made on first use and removed with its files at exit.
const std::string& ScratchFolder();

// Writes `bytes` to `name` inside the scratch folder (replacing it) and
// returns the file's path.
std::string WriteScratchFile(const std::string& name, std::string_view bytes);

// `text` for a message: bytes outside printable ASCII as "\xHH".
std::string Printable(std::string_view text);

// A broken oracle is a finding: print why and abort, so that libFuzzer
// keeps the input as a crash.
[[noreturn]] inline void OracleFailed(const char* what) {
  std::fprintf(stderr, "oracle failed: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(condition)                                      \
  do {                                                             \
    if (!(condition)) ::ostrevane::fuzz::OracleFailed(#condition); \
  } while (false)

}  // namespace ostrevane::fuzz
