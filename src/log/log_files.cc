#include "log/log_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "log/console.h"

namespace ostrevane {
namespace {

void AppendTwoDigits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

// "hh:nn:ss" on the 24-hour clock with the locale's time separator.
std::string TimeText(DateTime time, const FormatSettings& formats) {
  const DateTimeParts p = DecodeDateTime(time);
  std::string out;
  AppendTwoDigits(out, p.hour);
  if (formats.time_separator != '\0') out += formats.time_separator;
  AppendTwoDigits(out, p.minute);
  if (formats.time_separator != '\0') out += formats.time_separator;
  AppendTwoDigits(out, p.second);
  return out;
}

std::string SystemText(int err) {
  if (err == EWOULDBLOCK) return "The file is in use by another run.";
  return std::strerror(err);
}

// The folder part of an absolute name ("/" for a file at the root).
std::string FolderOf(const std::string& absolute) {
  const size_t slash = absolute.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : absolute.substr(0, slash);
}

std::string WorkingFolder() {
  std::error_code ec;
  const std::string folder = std::filesystem::current_path(ec).string();
  return ec ? std::string("?") : folder;
}

// Why no file can be made in the log folder of `file` (absolute), for a
// failure `err` that the folder explains: which folder, the reason, and
// the setting that moves it. Empty for other failures.
std::string LogFolderHint(const std::string& file, int err) {
  if (err != ENOENT && err != EACCES && err != EROFS && err != EPERM && err != ENOTDIR) return {};
  const std::string folder = FolderOf(file);
  const std::string parent = FolderOf(folder);
  std::string why;
  if (DirectoryExists(folder)) {
    if (err == ENOENT) return {};
    why = "the log folder \"" + folder + "\" is not writable for this user";
  } else if (FileExists(folder)) {
    why = "\"" + folder + "\" is a file, not a folder";
  } else if (!DirectoryExists(parent)) {
    why = "the log folder \"" + folder + "\" does not exist, nor does \"" + parent +
          "\" (only the last folder of log_dir is created)";
  } else if (::access(parent.c_str(), W_OK | X_OK) != 0) {
    why = "the log folder \"" + folder + "\" does not exist and cannot be created in \"" +
          parent + "\" (" + std::strerror(errno) + ")";
  } else {
    why = "the log folder \"" + folder + "\" does not exist";
  }
  return ": " + why + ". log_dir in section [Ostrevane] of settings.ini names the folder of "
                      "the log files and RESULT.TXT; a relative one is taken from the working "
                      "folder, here \"" + WorkingFolder() + "\"";
}

Error CreateError(const std::string& name, int err) {
  const std::string absolute = AbsolutePath(name);
  return Error(kEFCreateError, "Cannot create file \"" + absolute + "\". " + SystemText(err) +
                                   LogFolderHint(absolute, err));
}

// A line as the log and the console show it: cut, then made visible.
std::string ShownLine(std::string_view text) {
  return ShowControlCharacters(CutForMessage(text, kMessageLineLimit));
}

Error WriteError(const std::string& name, int err) {
  return Error(kEWriteError, "Cannot write to file \"" + name + "\". " + SystemText(err));
}

}  // namespace

const char* TagText(int tag) {
  switch (tag) {
    case kTagNote: return "[NOTE]   ";
    case kTagError: return "[ERROR]  ";
    case kTagWarning: return "[WARNING]";
    default: return "         ";  // keeps the nine-character column
  }
}

std::string WorkerLine(DateTime time, int tag, std::string_view message,
                       const FormatSettings& formats) {
  std::string line = TimeText(time, formats);
  line += ' ';
  line += TagText(tag);
  line += ' ';
  line += message;
  return line;
}

std::string RunStampText(DateTime moment) {
  const DateTimeParts p = DecodeDateTime(moment);
  std::string out;
  AppendTwoDigits(out, p.year / 100);
  AppendTwoDigits(out, p.year % 100);
  AppendTwoDigits(out, p.month);
  AppendTwoDigits(out, p.day);
  out += '-';
  AppendTwoDigits(out, p.hour);
  AppendTwoDigits(out, p.minute);
  AppendTwoDigits(out, p.second);
  return out;
}

LogFiles::LogFiles(std::string log_dir, FormatSettings formats, const Clock& clock)
    : log_dir_(std::move(log_dir)), formats_(std::move(formats)), clock_(clock) {}

LogFiles::~LogFiles() = default;

std::string LogFiles::FileName(Which which) const {
  std::string name = log_dir_;
  // An empty folder means the working directory, not the file-system root.
  if (!name.empty() && name.back() != '/' && name.back() != '\\') name += '/';
  name += run_stamp_;
  name += name_suffix_;
  name += which == kLog ? "_log.txt" : "_err.txt";
  return NormalizePath(name);
}

void LogFiles::Open(Which which) {
  const std::string name = FileName(which);
  // Open without truncating first: while another run still writes a file of
  // this name (two runs started in the same second) it keeps its lock and
  // this run fails instead of destroying that run's log. A file this run
  // opened before is written on at its end.
  const bool again = opened_[which];
  const int fd =
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (again ? O_APPEND : 0), 0666);
  if (fd < 0) throw CreateError(name, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (!again && ::ftruncate(fd, 0) != 0)) {
    const int err = errno;
    ::close(fd);
    throw CreateError(name, err);
  }
  std::FILE* file = ::fdopen(fd, again ? "ab" : "wb");
  if (!file) {
    const int err = errno;
    ::close(fd);
    throw CreateError(name, err);
  }
  files_[which].reset(file);
  names_[which] = AbsolutePath(name);
  opened_[which] = true;
  if (utf8_ || again) return;
  if (std::fwrite("\xFF\xFE", 1, 2, file) != 2 || std::fflush(file) != 0)
    throw WriteError(names_[which], errno);
}

void LogFiles::AppendTo(Which which, std::string_view text) {
  if (text.empty() || failed_[which]) return;
  try {
    if (!files_[which]) Open(which);
    std::string bytes;
    if (utf8_)
      bytes = text;
    else
      AppendUtf16Le(bytes, text);
    std::FILE* file = files_[which].get();
    // Each line reaches the file at once: a crash loses nothing logged.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0)
      throw WriteError(names_[which], errno);
  } catch (const Error&) {
    failed_[which] = true;
    files_[which].reset();
    throw;
  }
}

void LogFiles::Write(const std::string& log_text, const std::string& shown, bool error) {
  std::optional<Error> failure;
  auto append = [&](Which which, const std::string& text) {
    try {
      AppendTo(which, text);
    } catch (const Error& e) {
      if (!failure) failure = e;
    }
  };
  append(kLog, log_text);
  if (error) append(kErr, shown + "\r\n");
  if (console_ && error)
    console_->Error(shown);
  else if (console_)
    console_->Note(shown);
  else if (error)
    ConsoleErrorLine(shown);
  else
    ConsoleLine(shown);
  if (failure) throw *failure;
}

void LogFiles::AddNote(std::string_view text) {
  const std::string shown = ShownLine(text);
  Write(TimeText(clock_.Now(), formats_) + ' ' + shown + "\r\n", shown, false);
}

void LogFiles::AddFileNote(std::string_view text) {
  AppendTo(kLog, TimeText(clock_.Now(), formats_) + ' ' + ShowControlCharacters(text) + "\r\n");
}

void LogFiles::AddLine(std::string_view text) {
  const std::string shown = ShownLine(text);
  Write(shown + "\r\n", shown, false);
}

void LogFiles::AddError(std::string_view text) {
  const std::string shown = ShownLine(text);
  Write(shown + "\r\n", shown, true);
}

void LogFiles::Close() {
  for (auto& file : files_) file.reset();
}

void WriteRunResult(const std::string& text, const std::string& path) {
  const std::string name = NormalizePath(path);
  AtomicFile file(name, 0666);
  if (file.error() != 0) throw CreateError(name, file.error());
  if (const int err = WriteAndCommit(file, text, true); err != 0)
    throw WriteError(AbsolutePath(name), err);
}

void OverwriteRunResult(const std::string& text, const std::string& path) {
  const std::string name = NormalizePath(path);
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw CreateError(name, errno);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      const int err = w < 0 ? errno : ENOSPC;
      ::close(fd);
      throw WriteError(AbsolutePath(name), err);
    }
    done += size_t(w);
  }
  int err = ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) throw WriteError(AbsolutePath(name), err);
}

}  // namespace ostrevane
