#include "log/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

// The streams are the process's, so is their lock.
std::mutex& ConsoleMutex() {
  static std::mutex mu;
  return mu;
}

void Write(std::FILE* stream, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0)
    throw Error(kEWriteError, "Console write error");
}

// Every line is shown as the log shows it (an escaped text stays as it
// is), so that no text reaches a terminal that could start a line of its
// own or move the cursor.
void WriteLine(std::FILE* stream, std::string_view text) {
  Write(stream, ShowControlCharacters(text));
  Write(stream, "\n");
}

// Erases the current line and moves to its start (ANSI: carriage return,
// erase to the end of the line).
constexpr char kEraseLine[] = "\r\x1b[K";
// Moves one line up (ANSI: cursor up).
constexpr char kLineUp[] = "\x1b[A";

struct TerminalSize {
  int columns = 80;
  int rows = 24;
};

TerminalSize SizeOf(int fd) {
  TerminalSize size;
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 0) size.columns = ws.ws_col;
    if (ws.ws_row > 0) size.rows = ws.ws_row;
  }
  return size;
}

}  // namespace

void ConsoleLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  WriteLine(stdout, text);
}

void ConsoleErrorLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  WriteLine(stderr, text);
}

Console::Console(bool quiet, bool live_status) : quiet_(quiet), live_status_(live_status) {}

void Console::ClearStatusLocked() {
  if (status_lines_ == 0) return;
  std::string erase = kEraseLine;
  for (int i = 1; i < status_lines_; ++i) erase += std::string(kLineUp) + kEraseLine;
  status_lines_ = 0;
  try {
    Write(stderr, erase);
  } catch (const std::exception&) {
  }
}

void Console::Note(std::string_view text) {
  if (quiet_) return;
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  ClearStatusLocked();
  WriteLine(stdout, text);
}

void Console::Error(std::string_view text) {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  ClearStatusLocked();
  WriteLine(stderr, text);
}

void Console::ProgressLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  ClearStatusLocked();
  WriteLine(stdout, text);
}

void Console::Dot() {
  // A dot would land in the status lines, and their next drawing would
  // erase it.
  if (quiet_ || (live_status_ && ::isatty(STDOUT_FILENO))) return;
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  Write(stdout, ".");
}

void Console::ShowStatus(const std::vector<std::string>& lines) {
  if (!live_status_) return;
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  ClearStatusLocked();
  if (lines.empty()) return;
  // A line that wraps, or more lines than the screen holds, would leave
  // behind what the next clearing cannot reach.
  const TerminalSize size = SizeOf(STDERR_FILENO);
  const size_t width = size_t(size.columns > 1 ? size.columns - 1 : 1);
  const size_t shown = std::min(lines.size(), size_t(size.rows > 1 ? size.rows - 1 : 1));
  std::string text;
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) text += '\n';
    std::string line = lines[i];
    if (i + 1 == shown && shown < lines.size())
      line = "... " + std::to_string(lines.size() - i) + " jobs running";
    // Status lines are ASCII: a byte is a column.
    text += std::string_view(line).substr(0, width);
  }
  try {
    Write(stderr, text);
    status_lines_ = int(shown);
  } catch (const std::exception&) {
  }
}

}  // namespace ostrevane
