// The run's log file and error file, and the status file. Only the main
// thread uses a LogFiles; workers hand their lines over through their
// message lists.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/format_settings.h"
#include "log/console.h"

namespace ostrevane {

// Message tags: exactly nine characters each.
enum MessageTag { kTagNote = 0, kTagError = 1, kTagWarning = 2 };
const char* TagText(int tag);  // "[NOTE]   ", "[ERROR]  ", "[WARNING]"

// A worker line: the time "HH:NN:SS" (24-hour clock, the locale's time
// separator), a space, the tag, a space, the message.
std::string WorkerLine(DateTime time, int tag, std::string_view message,
                       const FormatSettings& formats);

// "YYYYMMDD-HHNNSS" of a moment.
std::string RunStampText(DateTime moment);

class LogFiles {
 public:
  LogFiles(std::string log_dir, FormatSettings formats, const Clock& clock = SystemClock());
  ~LogFiles();
  LogFiles(const LogFiles&) = delete;
  LogFiles& operator=(const LogFiles&) = delete;

  void set_run_stamp(std::string stamp) { run_stamp_ = std::move(stamp); }
  // Put between the run stamp and "_log.txt"/"_err.txt" (".3of8" for a
  // part of a run), so that parts of one run never share a file.
  void set_name_suffix(std::string suffix) { name_suffix_ = std::move(suffix); }
  // UTF-8 without a byte-order mark instead of UTF-16LE with one; set
  // before the first line.
  void set_utf8(bool utf8) { utf8_ = utf8; }
  // Where the lines are shown; null (the default): notes on standard
  // output, error lines on standard error. Must outlive this object.
  void set_console(Console* console) { console_ = console; }

  // Each of these writes one line: control characters in `text` are shown
  // visibly (ShowControlCharacters), so no text can start a line of its
  // own, and a huge text is cut (kMessageLineLimit). The files are written
  // first, then the console. A file that cannot be created or written
  // raises, after the console has shown the line; that file is written no
  // more (its lines would have a gap), the other file and the console go on.
  // Log file: time, space, text; console: the text.
  void AddNote(std::string_view text);
  // Log file only: time, space, text (what the run is set up with).
  void AddFileNote(std::string_view text);
  // Log file and console: the text.
  void AddLine(std::string_view text);
  // Log file, error file and console (as an error line): the text.
  void AddError(std::string_view text);
  // Closes both files. A line after Close() appends to the file this
  // object wrote before; only the first opening of a run replaces a file.
  void Close();

 private:
  enum Which { kLog, kErr };
  // Empty text: nothing. Otherwise creates the file on first use (replacing
  // an older one, FF FE first unless UTF-8) and writes the text at once.
  void AppendTo(Which which, std::string_view text);
  std::string FileName(Which which) const;
  void Open(Which which);
  // Writes `log_text` to the log file, `shown` to the error file when
  // `error`, then `shown` to the console; see AddNote.
  void Write(const std::string& log_text, const std::string& shown, bool error);

  std::string log_dir_;
  FormatSettings formats_;
  const Clock& clock_;
  std::string run_stamp_;
  std::string name_suffix_;
  bool utf8_ = false;
  Console* console_ = nullptr;
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> files_[2];
  std::string names_[2];             // absolute names of the files, for messages
  bool opened_[2] = {false, false};  // opened (and replaced) in this run
  bool failed_[2] = {false, false};  // could not be created or written
};

// Replaces (or creates) `path` with exactly the bytes of `text`, no
// byte-order mark, no line end, by way of a temporary file renamed over it:
// a reader or a crash sees the old text or the new, never an empty file.
void WriteRunResult(const std::string& text, const std::string& path);
// Writes `text` over the file `path` in place (truncated first): for a disk
// so full that WriteRunResult cannot make its temporary file. A reader may
// meet the file half written; the caller tried WriteRunResult first.
void OverwriteRunResult(const std::string& text, const std::string& path);

}  // namespace ostrevane
