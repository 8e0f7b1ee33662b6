#include "app/run_metrics.h"

#include <cstdint>
#include <vector>

#include "common/text.h"

namespace ostrevane {
namespace {

constexpr std::string_view kLastSuccess = "ostrevane_run_last_success_timestamp_seconds";

// One family: its HELP and TYPE lines, then its samples, all together.
class Family {
 public:
  Family(std::string& out, std::string_view name, std::string_view help)
      : out_(out), name_(name), help_(help) {}
  // `labels` is the text between the braces.
  void Sample(const std::string& labels, std::string_view value) {
    if (!started_) {
      out_ += Concat({"# HELP ", name_, " ", help_, "\n# TYPE ", name_, " gauge\n"});
      started_ = true;
    }
    out_ += Concat({name_, "{", labels, "} ", value, "\n"});
  }

 private:
  std::string& out_;
  std::string_view name_, help_;
  bool started_ = false;
};

std::string Label(std::string_view name, std::string_view value) {
  return Concat({name, "=\"", MetricsLabelValue(value), "\""});
}

// Milliseconds as seconds with three decimals.
std::string Seconds(int64_t ms) {
  if (ms < 0) ms = 0;
  std::string fraction = std::to_string(ms % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(ms / 1000) + "." + fraction;
}

std::string StatusLabel(JobOutcome::Status status) {
  return ReplaceAll(JobStatusText(status), " ", "_");  // "not run" -> "not_run"
}

// The value of the last-success sample with these labels in an earlier
// file's text, or "".
std::string PreviousLastSuccess(std::string_view previous, const std::string& labels) {
  const std::string start = Concat({kLastSuccess, "{", labels, "} "});
  for (const std::string& line : SplitLines(previous)) {
    if (!line.starts_with(start)) continue;
    const std::string value = Trim(std::string_view(line).substr(start.size()));
    bool digits = !value.empty();
    for (char c : value) digits = digits && IsAsciiDigit(c);
    return digits ? value : std::string();
  }
  return {};
}

}  // namespace

bool IsRunMetricsText(std::string_view text) {
  return text.empty() || text.starts_with("# HELP ostrevane_");
}

std::string MetricsLabelValue(std::string_view text) {
  std::string out;
  for (char c : SanitizeUtf8(text)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string RunMetricsText(const RunReport& report, const std::string& part,
                           std::string_view previous) {
  std::string run_labels = Label("list_file", report.list_file);
  if (!part.empty()) run_labels += "," + Label("part", part);

  std::string out;
  Family(out, "ostrevane_run_start_timestamp_seconds", "When the run started (Unix time).")
      .Sample(run_labels, std::to_string(report.start_unix));
  if (report.exit_status) {
    Family(out, "ostrevane_run_end_timestamp_seconds", "When the run ended (Unix time).")
        .Sample(run_labels, std::to_string(report.end_unix));
    Family(out, "ostrevane_run_exit_status",
           "The exit status of the run: 0 every job done, 1 a job failed or the run was "
           "stopped, 2 the run could not start.")
        .Sample(run_labels, std::to_string(*report.exit_status));
  }
  const std::string last_success = report.exit_status == 0
                                       ? std::to_string(report.end_unix)
                                       : PreviousLastSuccess(previous, run_labels);
  if (!last_success.empty())
    Family(out, kLastSuccess, "When a run of this list last ended with exit status 0 (Unix time).")
        .Sample(run_labels, last_success);

  const JobOutcome not_run;
  auto outcome_of = [&](size_t i) -> const JobOutcome& {
    return i < report.outcomes.size() ? report.outcomes[i] : not_run;
  };
  const JobOutcome::Status statuses[] = {JobOutcome::Status::kDone, JobOutcome::Status::kFailed,
                                         JobOutcome::Status::kNotRun};
  Family jobs(out, "ostrevane_run_jobs", "The jobs of the run by their status.");
  for (JobOutcome::Status status : statuses) {
    size_t count = 0;
    for (size_t i = 0; i < report.jobs.size(); ++i) count += outcome_of(i).status == status;
    jobs.Sample(run_labels + "," + Label("status", StatusLabel(status)), std::to_string(count));
  }

  std::vector<std::string> job_labels;
  for (const Job& job : report.jobs)
    job_labels.push_back(run_labels + "," + Label("job", std::to_string(job.run_number)) + "," +
                         Label("line", std::to_string(job.list_line_number)));
  Family status(out, "ostrevane_job_status",
                "1 for the status the job ended with (done, failed, not_run), else 0.");
  for (size_t i = 0; i < report.jobs.size(); ++i)
    for (JobOutcome::Status s : statuses)
      status.Sample(job_labels[i] + "," + Label("status", StatusLabel(s)),
                    outcome_of(i).status == s ? "1" : "0");
  Family duration(out, "ostrevane_job_duration_seconds",
                  "How long the job ran, from its connection to its commit or roll back.");
  for (size_t i = 0; i < report.jobs.size(); ++i)
    duration.Sample(job_labels[i], Seconds(outcome_of(i).duration_ms));
  Family rows(out, "ostrevane_job_rows_read", "Records the job read from its main query.");
  for (size_t i = 0; i < report.jobs.size(); ++i)
    rows.Sample(job_labels[i], std::to_string(outcome_of(i).rows_read));
  Family bytes(out, "ostrevane_job_written_bytes", "Bytes of the files the job wrote.");
  for (size_t i = 0; i < report.jobs.size(); ++i) {
    int64_t total = 0;
    for (const WrittenFile& file : outcome_of(i).files) total += file.bytes;
    bytes.Sample(job_labels[i], std::to_string(total));
  }
  return out;
}

std::string MetricsFilePath(const std::string& configured, const std::string& suffix) {
  if (suffix.empty()) return configured;
  const size_t slash = configured.find_last_of("/\\");
  const size_t dot = configured.rfind('.');
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  if (!has_extension) return configured + suffix;
  return configured.substr(0, dot) + suffix + configured.substr(dot);
}

}  // namespace ostrevane
