// The metrics of a list run in the Prometheus text exposition format, for
// monitoring that collects files (the textfile collector of a node
// exporter): settings.ini's metrics_file names the file, which every list
// run replaces whole, when it starts and when it ends.
//
// Families (all gauges; labels list_file, part when -part is given, and
// for jobs job and line):
//   ostrevane_run_start_timestamp_seconds, ostrevane_run_end_timestamp_seconds,
//   ostrevane_run_exit_status, ostrevane_run_last_success_timestamp_seconds,
//   ostrevane_run_jobs{status}, ostrevane_job_status{status},
//   ostrevane_job_duration_seconds, ostrevane_job_rows_read,
//   ostrevane_job_written_bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_report.h"

namespace ostrevane {

// The metrics of the run as `report` tells it (no end or exit status while
// it goes on). The time of the last run of the same list (and part) that
// ended with exit status 0 is this run's end when it did, else taken from
// `previous`, the file's text before this run (empty when there was none).
// `part` is "" or "K/N".
std::string RunMetricsText(const RunReport& report, const std::string& part,
                           std::string_view previous);

// The metrics file of a run: `configured`, or for a part of a run the part
// before its extension ("ostrevane.prom" -> "ostrevane.3of8.prom"), so that
// parts that share a folder keep a file each. `suffix` is RunPart::NameSuffix().
std::string MetricsFilePath(const std::string& configured, const std::string& suffix);

// The largest metrics file a run reads before replacing it; a larger one
// holds something else.
inline constexpr uintmax_t kMetricsFileLimit = 16 << 20;

// Whether `text` may be replaced as a metrics file: empty, or metrics that
// a run wrote (so that metrics_file naming the wrong file loses nothing).
bool IsRunMetricsText(std::string_view text);

// A label value as the format writes it between its quotes: "\" as "\\",
// '"' as "\"", a line feed as "\n"; bytes that are not valid UTF-8 become
// U+FFFD.
std::string MetricsLabelValue(std::string_view text);

}  // namespace ostrevane
