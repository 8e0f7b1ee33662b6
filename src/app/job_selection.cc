#include "app/job_selection.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>

#include "app/run_report.h"
#include "app/switches.h"
#include "common/error.h"
#include "common/json_reader.h"
#include "common/path.h"
#include "common/sha256.h"
#include "common/text.h"
#include "common/text_file.h"

namespace ostrevane {
namespace {

// The most numbers one -jobs may name; a list has fewer jobs.
constexpr int kMaxJobNumber = 10'000'000;

Error JobsError(std::string_view value, std::string_view why) {
  return Exception(
      Concat({"switch -jobs: \"", ShowControlCharacters(CutForMessage(value)), "\" ", why,
              " (job numbers and ranges separated by commas, for example "
              "-jobs:5,7-9)"}));
}

// A job number: decimal digits, 1..kMaxJobNumber; 0 for anything else.
int JobNumber(std::string_view piece) {
  const std::string text = Trim(piece);
  if (text.empty() || text.size() > 8) return 0;
  for (char c : text)
    if (!IsAsciiDigit(c)) return 0;
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value <= kMaxJobNumber ? value : 0;
}

Error RerunError(const std::string& path, std::string_view why) {
  return Exception(Concat({"switch -rerun: ", CutForMessage(path), " ", why}));
}

}  // namespace

void JobSelection::Add(int first, int last) {
  // Joined with every range it overlaps or touches.
  auto it = ranges_.upper_bound(first);
  if (it != ranges_.begin() && std::prev(it)->second >= first - 1) --it;
  while (it != ranges_.end() && it->first <= last + 1) {
    first = std::min(first, it->first);
    last = std::max(last, it->second);
    it = ranges_.erase(it);
  }
  ranges_.emplace(first, last);
}

bool JobSelection::Has(int number) const {
  auto it = ranges_.upper_bound(number);
  return it != ranges_.begin() && std::prev(it)->second >= number;
}

JobSelection ParseJobsSwitch(std::string_view value) {
  JobSelection selection;
  selection.origin = "-jobs:" + std::string(value);
  if (Trim(value).empty()) throw JobsError(value, "names no job");
  std::string_view rest = value;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view piece = rest.substr(0, comma);
    const size_t dash = piece.find('-');
    const int first = JobNumber(piece.substr(0, dash));
    const int last = dash == std::string_view::npos ? first : JobNumber(piece.substr(dash + 1));
    if (first == 0 || last == 0)
      throw JobsError(value, Concat({"holds \"", ShowControlCharacters(CutForMessage(piece)),
                                     "\", which is no job number from 1 and no range"}));
    if (last < first)
      throw JobsError(value, Concat({"holds the range \"", piece, "\", which runs backwards"}));
    selection.Add(first, last);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return selection;
}

std::vector<Job> SelectJobs(const std::vector<Job>& jobs, const JobSelection& selection) {
  if (!selection.given()) return jobs;
  const int count = int(jobs.size());
  if (selection.Largest() > count) {
    int unknown = count + 1;
    while (!selection.Has(unknown)) ++unknown;
    throw Exception(
        Concat({"switch ", CutForMessage(selection.origin), ": the list has no job ",
                std::to_string(unknown), "; it has ", std::to_string(count),
                count == 1 ? " job" : " jobs", " (numbered as in the log and RESULT.json)"}));
  }
  std::vector<Job> out;
  for (const Job& job : jobs)
    if (selection.Has(job.run_number)) out.push_back(job);
  return out;
}

RerunSource ReadRerunReport(const std::string& path) {
  JsonValue report;
  try {
    report = ParseJson(ReadWholeFile(path));
  } catch (const Error& e) {
    throw RerunError(path, "cannot be read as a run report: " + e.message());
  }
  auto text = [&](const JsonValue* v) {
    return v && v->kind == JsonValue::Kind::kString ? v->text : std::string();
  };
  const JsonValue* schema = report.Find("schema");
  const JsonValue* jobs = report.Find("jobs");
  if (report.kind != JsonValue::Kind::kObject || !schema ||
      schema->text != std::to_string(kRunReportSchema) || !jobs ||
      jobs->kind != JsonValue::Kind::kArray)
    throw RerunError(
        path, "is no run report (RESULT.json) of schema " + std::to_string(kRunReportSchema));
  const JsonValue* exit_status = report.Find("exit_status");
  if (!exit_status || exit_status->kind != JsonValue::Kind::kNumber)
    throw RerunError(path,
                     "reports a run that has not ended (its exit_status is null): it still "
                     "runs, or it was killed before it wrote its end, and which of its jobs are "
                     "done is unknown; see its log");
  RerunSource source;
  source.list_file = text(report.Find("list_file"));
  source.list_sha256 = text(report.Find("list_sha256"));
  if (source.list_file.empty())
    throw RerunError(path,
                     "reports the job of a command line (-run), not a list: run it again "
                     "with -run");
  if (source.list_sha256.empty() && jobs->items.empty())
    throw RerunError(path, "reports a run that ended before it read its list (" +
                               text(report.Find("error")) + "); no job ran: run the list again");
  if (source.list_sha256.empty())
    throw RerunError(path, "records no checksum of its list; pick the jobs with -jobs instead");
  source.selection.origin = "-rerun:" + path;
  for (const JsonValue& job : jobs->items) {
    const std::string status = text(job.Find("status"));
    const JsonValue* number = job.Find("job");
    const int n = number ? JobNumber(number->text) : 0;
    if (n == 0) throw RerunError(path, "lists a job without a valid job number");
    if (status == "failed" || status == "not run") source.selection.Add(n, n);
  }
  return source;
}

void CheckListUnchanged(const RerunSource& source, const std::string& report_path,
                        const std::string& list_file) {
  const std::string now = Sha256Hex(ReadWholeFile(list_file));
  if (now == source.list_sha256) return;
  throw RerunError(
      report_path,
      Concat({"reports a run of the list ", CutForMessage(source.list_file),
              " as it was then (SHA-256 ", source.list_sha256, "); ",
              CutForMessage(AbsolutePath(list_file)), " has changed since (SHA-256 ", now,
              "), so its job numbers may name other jobs. Run the list again, or "
              "pick the jobs with -jobs"}));
}

JobSelection ChooseJobs(const std::vector<std::string>& args, bool& list_mode,
                        std::string& list_file) {
  std::string jobs, rerun;
  const bool jobs_given = FindSwitch(args, "jobs", jobs);
  const bool rerun_given = FindSwitch(args, "rerun", rerun);
  if (!jobs_given && !rerun_given) return {};
  if (jobs_given && rerun_given)
    throw Exception(
        "-jobs and -rerun exclude each other: -rerun picks the jobs that failed or "
        "did not run");
  if (HasWholeSwitch(args, "run"))
    throw Exception(std::string(jobs_given ? "-jobs" : "-rerun") +
                    " picks jobs of a list; -run runs the one job of the command line");
  if (jobs_given) {
    if (!list_mode) throw Exception("-jobs picks jobs of a list: give the list with -list:FILE");
    return ParseJobsSwitch(jobs);
  }
  if (IsBlank(rerun))
    throw Exception("switch -rerun: no run report is named (-rerun:log/RESULT.json)");
  RerunSource source = ReadRerunReport(rerun);
  if (!list_mode) list_file = source.list_file, list_mode = true;
  CheckListUnchanged(source, rerun, list_file);
  return std::move(source.selection);
}

std::vector<NameValue> RunParameters(const std::vector<std::string>& args,
                                     const OptionContext& ctx) {
  std::vector<NameValue> values;
  for (const std::string& option : JobOptionParameters(args)) {
    if (JobOptionName(option) != "-params")
      throw Exception("job option " + CutForMessage(MaskedOption(option)) +
                      " beside -list: a list run takes the job options from its list; only "
                      "-params applies to every job of the list");
    Job scratch;
    ResetOptions(scratch);
    ApplyOption(option, scratch, ctx);
    for (NameValue& value : scratch.sql_parameters) values.push_back(std::move(value));
  }
  return values;
}

}  // namespace ostrevane
