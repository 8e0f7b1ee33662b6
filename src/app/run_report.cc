#include "app/run_report.h"

#include <ctime>
#include <map>
#include <utility>

#include "common/json_writer.h"
#include "common/path.h"
#include "common/sha256.h"
#include "common/text.h"
#include "common/text_file.h"
#include "control/options.h"
#include "log/progress_display.h"

namespace ostrevane {
namespace {

// Texts from data, servers or the list (an error, a target, a list line)
// are cut like a line of the log: a huge value must not make a huge report.
void Text(JsonWriter& json, const std::string& text) {
  json.String(CutForMessage(text, kMessageLineLimit));
}

void StringOrNull(JsonWriter& json, const std::string& text) {
  if (text.empty())
    json.Null();
  else
    Text(json, text);
}

void WriteJob(JsonWriter& json, const Job& job, const std::vector<InputFile>& inputs,
              const JobOutcome& outcome) {
  json.BeginObject();
  json.Key("job");
  json.Int(job.run_number);
  json.Key("line");
  json.Int(job.list_line_number);
  json.Key("list_line");
  Text(json, MaskedListLine(job.list_line));
  json.Key("inputs");
  json.BeginArray();
  for (const InputFile& input : inputs) {
    json.BeginObject();
    json.Key("role");
    json.String(input.role);
    json.Key("path");
    json.String(input.path);
    json.Key("sha256");
    StringOrNull(json, input.sha256);
    json.EndObject();
  }
  json.EndArray();
  json.Key("status");
  json.String(JobStatusText(outcome.status));
  json.Key("error");
  StringOrNull(json, outcome.error);
  json.Key("note");
  StringOrNull(json, outcome.note);
  json.Key("duration_ms");
  json.Int(outcome.duration_ms);
  json.Key("rows_read");
  json.Int(outcome.rows_read);
  json.Key("files");
  json.BeginArray();
  for (const WrittenFile& file : outcome.files) {
    json.BeginObject();
    json.Key("path");
    json.String(file.path);
    json.Key("bytes");
    json.Int(file.bytes);
    json.Key("sha256");
    StringOrNull(json, file.sha256);
    json.EndObject();
  }
  json.EndArray();
  json.Key("deliveries");
  json.BeginArray();
  for (const DeliveryRecord& delivery : outcome.deliveries) {
    json.BeginObject();
    json.Key("kind");
    json.String(delivery.kind);
    json.Key("target");
    Text(json, delivery.target);
    json.Key("status");
    json.String(delivery.sent ? "sent" : "failed");
    if (delivery.kind == "s3") {
      json.Key("objects");
      json.BeginArray();
      for (const StoredObject& object : delivery.objects) {
        json.BeginObject();
        json.Key("bucket");
        json.String(object.bucket);
        json.Key("key");
        json.String(object.key);
        json.Key("etag");
        json.String(object.etag);
        json.EndObject();
      }
      json.EndArray();
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
}

}  // namespace

const char* JobStatusText(JobOutcome::Status status) {
  switch (status) {
    case JobOutcome::Status::kDone:
      return "done";
    case JobOutcome::Status::kFailed:
      return "failed";
    case JobOutcome::Status::kNotRun:
      break;
  }
  return "not run";
}

std::string IsoLocalTime(long long seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
  std::string out(text, n);
  // "+0100" -> "+01:00"
  if (out.size() >= 5) out.insert(out.size() - 2, ":");
  return out;
}

std::string IsoNow() { return IsoLocalTime(static_cast<long long>(std::time(nullptr))); }

std::string SummaryLine(const RunReport& report, std::chrono::milliseconds elapsed) {
  // Failed jobs are named up to this many; the rest are counted.
  constexpr size_t kNamedFailures = 20;
  size_t done = 0, not_run = 0, files = 0;
  int64_t bytes = 0;
  std::vector<std::string> failed;
  const JobOutcome none;
  for (size_t i = 0; i < report.jobs.size(); ++i) {
    const JobOutcome& outcome = i < report.outcomes.size() ? report.outcomes[i] : none;
    switch (outcome.status) {
      case JobOutcome::Status::kDone:
        ++done;
        break;
      case JobOutcome::Status::kFailed:
        failed.push_back(JobLabel(report.jobs[i]));
        break;
      case JobOutcome::Status::kNotRun:
        ++not_run;
        break;
    }
    files += outcome.files.size();
    for (const WrittenFile& file : outcome.files) bytes += file.bytes;
  }
  std::string line = "Summary: " + std::to_string(report.jobs.size()) +
                     (report.jobs.size() == 1 ? " job: " : " jobs: ") + std::to_string(done) +
                     " done, " + std::to_string(failed.size()) + " failed";
  if (!failed.empty()) {
    line += " (";
    for (size_t i = 0; i < failed.size() && i < kNamedFailures; ++i)
      line += (i > 0 ? "; " : "") + failed[i];
    if (failed.size() > kNamedFailures)
      line += "; " + std::to_string(failed.size() - kNamedFailures) + " more";
    line += ")";
  }
  line += ", " + std::to_string(not_run) + " not run; " + std::to_string(files) +
          (files == 1 ? " file, " : " files, ") + std::to_string(bytes) + " bytes written; " +
          "elapsed " + ElapsedText(elapsed);
  return line;
}

std::string RunReportJson(const RunReport& report) {
  JsonWriter json;
  json.BeginObject();
  json.Key("schema");
  json.Int(kRunReportSchema);
  json.Key("version");
  json.String(report.version);
  json.Key("start");
  json.String(report.start);
  json.Key("end");
  StringOrNull(json, report.end);
  json.Key("list_file");
  StringOrNull(json, report.list_file);
  json.Key("list_sha256");
  StringOrNull(json, report.list_sha256);
  json.Key("selection");
  StringOrNull(json, report.selection);
  json.Key("part");
  if (report.part_n == 0) {
    json.Null();
  } else {
    json.BeginObject();
    json.Key("k");
    json.Int(report.part_k);
    json.Key("n");
    json.Int(report.part_n);
    json.EndObject();
  }
  json.Key("exit_status");
  if (report.exit_status)
    json.Int(*report.exit_status);
  else
    json.Null();
  json.Key("error");
  StringOrNull(json, report.error);
  json.Key("jobs");
  json.BeginArray();
  const JobOutcome not_run;
  const std::vector<InputFile> no_inputs;
  for (size_t i = 0; i < report.jobs.size(); ++i)
    WriteJob(json, report.jobs[i], i < report.inputs.size() ? report.inputs[i] : no_inputs,
             i < report.outcomes.size() ? report.outcomes[i] : not_run);
  json.EndArray();
  json.EndObject();
  return json.text();
}

std::vector<Job> JobsForReport(const std::vector<Job>& jobs) {
  std::vector<Job> kept;
  kept.reserve(jobs.size());
  for (const Job& job : jobs) {
    Job& copy = kept.emplace_back(job);  // one job's texts at a time
    for (std::string* text : {&copy.sql, &copy.post_sql, &copy.per_record_sql})
      std::string().swap(*text);  // gives the memory back
  }
  return kept;
}

std::vector<std::vector<InputFile>> InputFilesOf(const std::vector<Job>& jobs) {
  std::map<std::string, std::string> digests;  // absolute path -> SHA-256
  auto digest = [&](const std::string& path) {
    auto [it, fresh] = digests.emplace(path, std::string());
    if (fresh) {
      std::string bytes;
      bool opened = false;
      if (TryReadWholeFile(path, bytes, opened) == 0) it->second = Sha256Hex(bytes);
    }
    return it->second;
  };
  std::vector<std::vector<InputFile>> inputs(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    const std::pair<const char*, std::string> files[] = {
        {"sql", job.sql_file},
        {"post_sql", job.post_sql_file},
        {"per_record_sql", job.per_record_sql_file},
        {"report_template", job.report_template.empty() ? "" : AbsolutePath(job.report_template)},
        {"mail_body", job.mail_body_file},
    };
    for (const auto& [role, path] : files)
      if (!path.empty()) inputs[i].push_back({role, path, digest(path)});
  }
  return inputs;
}

}  // namespace ostrevane
