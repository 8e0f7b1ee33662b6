// The console: notes on standard output, error lines on standard error,
// both UTF-8 with "\n", control characters shown escaped
// (ShowControlCharacters). One mutex serialises every write of the process
// (lines, a script's progress dots, the live status lines) and each write
// reaches its stream at once, so a terminal that shows both streams shows
// the lines in the order they were written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// A line on standard output. Throws Error(kEWriteError) when it cannot be
// written.
void ConsoleLine(std::string_view text);
// A line on standard error (an error line, a run-ending "Class: message").
// Throws as ConsoleLine.
void ConsoleErrorLine(std::string_view text);

// The console of a list run. Notes and error lines clear the live status
// lines first; the next ShowStatus draws them again below. Used from the
// main thread, except Dot(), which a worker calls.
class Console {
 public:
  // `quiet`: notes and dots are not shown, error lines are. `live_status`:
  // ShowStatus draws on standard error, which must be a terminal.
  explicit Console(bool quiet = false, bool live_status = false);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // A note line on standard output, unless quiet.
  void Note(std::string_view text);
  // An error line on standard error.
  void Error(std::string_view text);
  // A progress line on standard output, also when quiet (asked for with
  // -progress).
  void ProgressLine(std::string_view text);
  // "." without a line end (a script's batch) on standard output, unless
  // quiet or the live status is drawn on the same terminal.
  void Dot();
  // Replaces the live status lines by `lines` (none: clears them), each cut
  // to the terminal's width, at most as many as the terminal has rows. A
  // failing write is ignored: the status only decorates the run.
  void ShowStatus(const std::vector<std::string>& lines);

 private:
  // Erases the status lines drawn last; the caller holds the mutex.
  void ClearStatusLocked();

  const bool quiet_;
  const bool live_status_;
  // Status lines on the screen now; read and written under the console
  // mutex.
  int status_lines_ = 0;
};

}  // namespace ostrevane
