#include "log/progress_display.h"

#include <cstdio>
#include <iterator>

#include "common/datetime.h"
#include "log/log_files.h"

namespace ostrevane {
namespace {

std::string BytesText(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = double(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) value /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

std::string ElapsedText(std::chrono::milliseconds elapsed) {
  const int64_t seconds = elapsed.count() / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                int(seconds / 60 % 60), int(seconds % 60));
  return text;
}

std::string ProgressText(const JobProgress& p) {
  const int64_t ms = p.elapsed.count();
  const int64_t rate = ms > 0 ? p.rows * 1000 / ms : 0;
  return "job " + std::to_string(p.job) + ", line " + std::to_string(p.line) + ": " +
         std::to_string(p.rows) + " rows read, " + BytesText(p.bytes) + " written, " +
         std::to_string(rate) + " rows/s, " + ElapsedText(p.elapsed);
}

ProgressDisplay::ProgressDisplay(Mode mode, Console& console, FormatSettings formats)
    : mode_(mode), console_(console), formats_(std::move(formats)) {}

std::chrono::milliseconds ProgressDisplay::interval() const {
  switch (mode_) {
    case Mode::kLive:
      return kLiveInterval;
    // Checked every second; each job's line comes when its 10 s are full.
    case Mode::kPlain:
      return std::chrono::milliseconds(1000);
    case Mode::kOff:
      break;
  }
  return std::chrono::milliseconds(0);
}

void ProgressDisplay::Update(const std::vector<JobProgress>& running) {
  if (mode_ == Mode::kLive) {
    std::vector<std::string> lines;
    lines.reserve(running.size());
    for (const JobProgress& p : running) lines.push_back(ProgressText(p));
    console_.ShowStatus(lines);
    return;
  }
  if (mode_ != Mode::kPlain) return;
  std::map<int, int64_t> still_running;
  for (const JobProgress& p : running) {
    const int64_t marks = p.elapsed / kPlainEvery;
    int64_t& shown = plain_lines_[p.job];
    if (marks > shown) {
      shown = marks;
      console_.ProgressLine(WorkerLine(NowLocal(), kTagNote, ProgressText(p), formats_));
    }
    still_running[p.job] = shown;
  }
  plain_lines_.swap(still_running);  // ended jobs are forgotten
}

}  // namespace ostrevane
