#include "log/progress_display.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace ostrevane {
namespace {

using std::chrono::milliseconds;

TEST(ProgressDisplayTest, TextNamesTheJobAndItsCounters) {
  struct {
    JobProgress progress;
    const char* text;
  } cases[] = {
      {{3, 5, 0, 0, milliseconds(0)},
       "job 3, line 5: 0 rows read, 0 bytes written, 0 rows/s, 0:00:00"},
      {{1, 1, 1234567, 98765432, milliseconds(83'500)},
       "job 1, line 1: 1234567 rows read, 94.2 MiB written, 14785 rows/s, 0:01:23"},
      {{2, 9, 10, 1023, milliseconds(3'723'000)},
       "job 2, line 9: 10 rows read, 1023 bytes written, 0 rows/s, 1:02:03"},
      {{2, 9, 10, int64_t(5) << 40, milliseconds(999)},
       "job 2, line 9: 10 rows read, 5.0 TiB written, 10 rows/s, 0:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressText(c.progress), c.text) << c.text;
}

// Without a terminal: a line for each job and each full 10 s of its run,
// however often the dispatcher asks; a job that ended is forgotten.
TEST(ProgressDisplayTest, PlainLinesComeOncePerJobAndTenSeconds) {
  Console console;
  ProgressDisplay display(ProgressDisplay::Mode::kPlain, console, FormatSettings{});
  EXPECT_EQ(display.interval(), milliseconds(1000));
  auto at = [](int job, int seconds) {
    return JobProgress{job, job, 0, 0, milliseconds(seconds * 1000)};
  };
  struct {
    std::vector<JobProgress> running;
    std::vector<int> lines_for;  // the jobs that get a line now
  } steps[] = {
      {{at(1, 1)}, {}},
      {{at(1, 9)}, {}},
      {{at(1, 10), at(2, 3)}, {1}},
      {{at(1, 11), at(2, 12)}, {2}},
      {{at(1, 19), at(2, 13)}, {}},
      {{at(1, 25), at(2, 14)}, {1}},
      {{at(2, 15)}, {}},
      {{at(1, 12)}, {1}},  // a new job 1 (the old one ended): its own count
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    ::testing::internal::CaptureStdout();
    display.Update(steps[i].running);
    const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), steps[i].lines_for.size()) << "step " << i;
    for (size_t k = 0; k < lines.size(); ++k)
      EXPECT_NE(lines[k].find("[NOTE]    job " + std::to_string(steps[i].lines_for[k]) + ", line "),
                std::string::npos)
          << lines[k];
  }
}

TEST(ProgressDisplayTest, OffAndLiveWithoutATerminalPrintNothing) {
  Console console;
  for (const auto mode : {ProgressDisplay::Mode::kOff, ProgressDisplay::Mode::kLive}) {
    ProgressDisplay display(mode, console, FormatSettings{});
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    display.Update({{1, 1, 5, 5, milliseconds(60'000)}});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
}

}  // namespace
}  // namespace ostrevane
