#include "log/console.h"

#include <cstdio>
#include <mutex>

#include "common/error.h"

namespace ostrevane {
namespace {

std::mutex& ConsoleMutex() {
  static std::mutex mu;
  return mu;
}

void Write(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw Error(kEWriteError, "Console write error");
}

}  // namespace

void ConsoleLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  Write(text);
  Write("\n");
}

void ConsoleDot() {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  Write(".");
}

}  // namespace ostrevane
