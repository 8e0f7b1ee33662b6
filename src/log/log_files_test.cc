#include "log/log_files.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/text.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

// What every failure to make a file in the log folder ends with.
std::string LogDirHint() {
  return "log_dir in section [Ostrevane] of settings.ini names the folder of the log files and "
         "RESULT.TXT; a relative one is taken from the working folder, here \"" +
         std::filesystem::current_path().string() + "\"";
}

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  DateTime Now() const override { return now_; }

 private:
  DateTime now_;
};

const FixedClock kClock(EncodeDateTime(2024, 3, 5, 7, 8, 9, 999));

std::string Utf16LeFile(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  AppendUtf16Le(out, utf8);
  return out;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.class_name() + ": " + e.message();
  }
  return "";
}

TEST(LogFilesTest, LinesAndTags) {
  const DateTime t = EncodeDateTime(2024, 12, 31, 23, 4, 5);
  const FormatSettings plain;
  FormatSettings dot;
  dot.time_separator = '.';
  FormatSettings none;
  none.time_separator = '\0';
  struct {
    int tag;
    const FormatSettings& formats;
    const char* expected;
  } cases[] = {
      {kTagNote, plain, "23:04:05 [NOTE]    Done"},
      {kTagError, plain, "23:04:05 [ERROR]   Done"},
      {kTagWarning, dot, "23.04.05 [WARNING] Done"},
      {kTagNote, none, "230405 [NOTE]    Done"},
  };
  for (const auto& row : cases)
    EXPECT_EQ(WorkerLine(t, row.tag, "Done", row.formats), row.expected) << row.expected;
  for (int tag : {0, 1, 2, 7})
    EXPECT_EQ(std::string(TagText(tag)).size(), 9u) << tag;

  EXPECT_EQ(RunStampText(t), "20241231-230405");
  EXPECT_EQ(RunStampText(EncodeDateTime(987, 1, 2, 3, 4, 5)), "09870102-030405");
}

TEST(LogFilesTest, ByteLayoutOfLogAndErrorFiles) {
  TempDir dir;
  LogFiles logs(dir.path(), FormatSettings{}, kClock);
  logs.set_run_stamp("20240305-070809");
  const FormatSettings formats;
  const std::string note =
      WorkerLine(kClock.Now(), kTagNote, "caf\xC3\xA9 \xF0\x9F\x98\x80", formats);
  // An error whose text tries to start a line of its own.
  const std::string error =
      WorkerLine(kClock.Now(), kTagError, "boom\r\n07:08:09 [NOTE]    Done\x07", formats);
  const std::string error_shown = WorkerLine(
      kClock.Now(), kTagError, "boom\\r\\n07:08:09 [NOTE]    Done\\x07", formats);

  CaptureStdout();
  CaptureStderr();
  logs.AddNote("Ostrevane v00006");
  logs.AddLine(note);
  logs.AddError(error);
  logs.AddLine("two\n\tlines");
  const std::string console = GetCapturedStdout();
  const std::string console_errors = GetCapturedStderr();
  logs.Close();

  // The banner has its time in the file, not on the console; the error
  // line goes to standard error.
  EXPECT_EQ(console, "Ostrevane v00006\n" + note + "\ntwo\\n\\tlines\n");
  EXPECT_EQ(console_errors, error_shown + "\n");
  const std::string log = ReadFile(dir / "20240305-070809_log.txt");
  EXPECT_EQ(log, Utf16LeFile("07:08:09 Ostrevane v00006\r\n" + note + "\r\n" + error_shown +
                             "\r\ntwo\\n\\tlines\r\n"));
  EXPECT_EQ(ReadFile(dir / "20240305-070809_err.txt"), Utf16LeFile(error_shown + "\r\n"));

  // Spelled out once: mark, "é" as E9 00, U+1F600 as a surrogate pair, CR LF.
  EXPECT_EQ(log.substr(0, 4), std::string("\xFF\xFE" "0\x00", 4));
  EXPECT_NE(log.find(std::string("\xE9\x00\x20\x00\x3D\xD8\x00\xDE\x0D\x00\x0A\x00", 12)),
            std::string::npos);
  EXPECT_EQ(log.find("\xFF\xFE", 2), std::string::npos);  // one mark only
}

TEST(LogFilesTest, FileNames) {
  TempDir dir;
  struct {
    std::string log_dir;
    std::string stamp;
    std::string expected;  // relative to dir
  } cases[] = {
      {dir.path(), "20240101-000000", "20240101-000000_log.txt"},
      {dir.path() + "/", "", "_log.txt"},
      {dir.path() + "\\", "S", "S_log.txt"},  // no second delimiter
      {dir.path() + "\\sub", "", "sub/_log.txt"},
  };
  std::filesystem::create_directory(dir / "sub");
  for (const auto& row : cases) {
    LogFiles logs(row.log_dir, FormatSettings{}, kClock);
    logs.set_run_stamp(row.stamp);
    CaptureStdout();
    logs.AddLine("x");
    GetCapturedStdout();
    logs.Close();
    EXPECT_TRUE(std::filesystem::exists(dir / row.expected)) << row.log_dir << " " << row.stamp;
    std::filesystem::remove(dir / row.expected);
  }

  // An empty folder is the working directory.
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    LogFiles logs("", FormatSettings{}, kClock);
    CaptureStdout();
    logs.AddLine("x");
    GetCapturedStdout();
  }
  std::filesystem::current_path(saved);
  EXPECT_TRUE(std::filesystem::exists(dir / "_log.txt"));
}

TEST(LogFilesTest, FilesAppearOnFirstLineAndAreReplaced) {
  TempDir dir;
  WriteFile(dir / "_log.txt", "an older run's log that is longer than the new one");
  LogFiles logs(dir.path(), FormatSettings{}, kClock);
  EXPECT_FALSE(std::filesystem::exists(dir / "_err.txt"));
  CaptureStdout();
  logs.AddLine("a");
  logs.AddLine("b");
  EXPECT_FALSE(std::filesystem::exists(dir / "_err.txt"));  // no error line, no file
  logs.Close();
  EXPECT_EQ(ReadFile(dir / "_log.txt"), Utf16LeFile("a\r\nb\r\n"));
  logs.AddLine("c");  // reopened after Close: the run's file goes on
  GetCapturedStdout();
  EXPECT_EQ(ReadFile(dir / "_log.txt"), Utf16LeFile("a\r\nb\r\nc\r\n"));
}

// A file that cannot be created or written raises once, after the console
// has shown the line; then it is left alone (a log with a gap would pass
// for a whole one) while the console goes on.
TEST(LogFilesTest, AFailingFileRaisesOnceAndTheConsoleGoesOn) {
  TempDir dir;
  const std::string missing = dir / "missing";
  LogFiles logs(missing, FormatSettings{}, kClock);
  logs.set_run_stamp("S");
  CaptureStdout();
  const std::string error = ErrorOf([&] { logs.AddNote("Ostrevane v00006"); });
  std::filesystem::create_directory(missing);
  EXPECT_EQ(ErrorOf([&] { logs.AddLine("later"); }), "");
  EXPECT_EQ(GetCapturedStdout(), "Ostrevane v00006\nlater\n");
  EXPECT_FALSE(std::filesystem::exists(missing + "/S_log.txt"));
  EXPECT_EQ(error, "EFCreateError: Cannot create file \"" + missing +
                       "/S_log.txt\". No such file or directory: the log folder \"" + missing +
                       "\" does not exist. " + LogDirHint());

  // A second run of the same second while the first still writes: the
  // first run's log survives.
  LogFiles first(dir.path(), FormatSettings{}, kClock);
  LogFiles second(dir.path(), FormatSettings{}, kClock);
  CaptureStdout();
  first.AddLine("first");
  EXPECT_EQ(ErrorOf([&] { second.AddLine("second"); }),
            "EFCreateError: Cannot create file \"" + (dir / "_log.txt") +
                "\". The file is in use by another run.");
  first.AddLine("still first");
  EXPECT_EQ(GetCapturedStdout(), "first\nsecond\nstill first\n");
  EXPECT_EQ(ReadFile(dir / "_log.txt"), Utf16LeFile("first\r\nstill first\r\n"));
}

TEST(LogFilesTest, ResultFileHoldsExactlyTheText) {
  TempDir dir;
  WriteFile(dir / "RESULT.TXT", "ERROR");
  WriteRunResult("OK", dir / "RESULT.TXT");
  EXPECT_EQ(ReadFile(dir / "RESULT.TXT"), "OK");
  WriteRunResult("ERROR", dir.path() + "\\RESULT.TXT");
  EXPECT_EQ(ReadFile(dir / "RESULT.TXT"), "ERROR");
  EXPECT_EQ(ErrorOf([&] { WriteRunResult("OK", dir / "missing/log/RESULT.TXT"); }),
            "EFCreateError: Cannot create file \"" + (dir / "missing/log/RESULT.TXT") +
                "\". No such file or directory: the log folder \"" + (dir / "missing/log") +
                "\" does not exist, nor does \"" + (dir / "missing") +
                "\" (only the last folder of log_dir is created). " + LogDirHint());
}

}  // namespace
}  // namespace ostrevane
