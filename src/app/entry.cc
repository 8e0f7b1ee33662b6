#include "app/entry.h"

#include <clocale>
#include <optional>
#include <string>
#include <vector>

#include "app/run_part.h"
#include "app/run_report.h"
#include "app/signal_watch.h"
#include "app/switches.h"
#include "common/codepage.h"
#include "common/datetime.h"
#include "common/error.h"
#include "common/format_settings.h"
#include "common/path.h"
#include "control/job.h"
#include "control/list_file.h"
#include "control/names.h"
#include "control/options.h"
#include "log/console.h"
#include "log/log_files.h"
#include "settings/settings.h"
#include "workers/dispatcher.h"

namespace ostrevane {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitJobsFailed = 1;
constexpr int kExitRunError = 2;

constexpr char kVersionLine[] = "Ostrevane v00006";
constexpr char kVersion[] = "v00006";

// The dispatcher prints through the run's log files.
class LogFilesSink : public ReportSink {
 public:
  explicit LogFilesSink(LogFiles& log) : log_(log) {}
  void AddLine(std::string_view line) override { log_.AddLine(line); }
  void AddError(std::string_view line) override { log_.AddError(line); }

 private:
  LogFiles& log_;
};

// The run state: written on the main thread before any worker starts and
// read-only afterwards.
struct RunState {
  std::vector<std::string> args;
  FormatSettings format;
  std::string joiner = " ";
  Settings settings;
  NamesTable names;
  std::optional<LogFiles> log;  // closed before the program ends, however it ends
  RunPart part;
  // The run report of a list run (not a check): its file, empty for other
  // runs.
  std::string report_path;
  RunReport report;
  // The one member written while workers run: by the signal watcher, and
  // atomically.
  StopRequest stop;

  OptionContext Options() const { return OptionContext{&settings, &names, format, joiner}; }
};

// Returns true when a password command was given and carried out.
bool RunPasswordCommand(RunState& run) {
  struct Command {
    const char* name;
    const char* message;
  };
  static const Command kCommands[] = {
      {"setmailpwd", "Mail password was changed"},
      {"setsftppwd", "SFTP password was changed"},
      {"sethttppwd", "HTTP password was changed"},
      {"sethttpproxypwd", "HTTP Proxy password was changed"},
      {"setftppwd", "FTP password was changed"},
  };
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    std::string value;
    if (!FindSwitch(run.args, kCommands[i].name, value)) continue;
    PasswordChange change[5];
    change[i] = {true, value};
    run.settings =
        ReadSettings(HomeFolder(), change[0], change[1], change[2], change[3], change[4]);
    run.log.emplace(run.settings.log_dir, run.format);
    run.log->set_utf8(run.settings.log_utf8);
    run.log->AddNote(kCommands[i].message);
    return true;
  }
  return false;
}

// RESULT.TXT, RESULT.json, or with -part:3/8 RESULT.3of8.TXT, ...
std::string ResultFilePath(const RunState& run, const char* extension) {
  std::string path = NormalizePath(run.settings.log_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + "RESULT" + run.part.NameSuffix() + extension;
}

// Writes the run report as it stands; `status` and `error` make it the last
// version (ended), none leaves it open (started, still running).
void WriteReport(RunState& run, std::optional<int> status, const std::string& error) {
  RunReport& report = run.report;
  if (status) {
    report.end = IsoNow();
    report.exit_status = status;
    report.error = error;
  }
  WriteRunResult(RunReportJson(report), run.report_path);
}

std::string StopLine(const StopRequest& stop) {
  return "The run was stopped by signal " + std::to_string(stop.signal_number());
}

// RESULT.TXT already says "ERROR" (unless `check`): it says "OK" only once
// every job has ended without an error and the run was not stopped.
int RunListMode(RunState& run, const std::string& list_file, bool check) {
  const OptionContext ctx = run.Options();
  // A check lists every mistake of the list at once; a run stops at the
  // first, before any job runs.
  std::vector<std::string> problems;
  std::vector<Job> jobs = ReadListLines(list_file, ctx, check ? &problems : nullptr);
  ExpandList(jobs, ctx);
  // A part runs its share of the whole list, numbered as in the whole list.
  if (!check && run.part.given) jobs = JobsOfPart(jobs, run.part);
  if (!check) {
    run.report.jobs = jobs;
    WriteReport(run, std::nullopt, {});
  }

  if (check) {
    for (const std::string& line : DescribeJobs(jobs, run.settings.mail)) ConsoleLine(line);
    for (const std::string& problem : problems) ConsoleLine(problem);
    if (problems.empty()) return kExitDone;
    ConsoleLine(std::to_string(problems.size()) +
                (problems.size() == 1 ? " mistake in the list" : " mistakes in the list"));
    return kExitRunError;
  }
  if (run.stop.requested()) {
    run.log->AddError(StopLine(run.stop));  // before any job could start
    WriteReport(run, kExitRunError, StopLine(run.stop));
    return kExitRunError;
  }

  run.log->AddNote(kVersionLine);
  WorkerSettings worker_settings;
  worker_settings.format = run.format;
  worker_settings.mail = run.settings.mail;
  worker_settings.http_proxy = run.settings.http_proxy;
  worker_settings.connection_timeout = run.settings.connection_timeout;
  worker_settings.command_timeout = run.settings.command_timeout;
  worker_settings.delivery_timeout = run.settings.delivery_timeout;
  worker_settings.job_timeout = run.settings.job_timeout;
  worker_settings.delivery_retries = run.settings.delivery_retries;
  worker_settings.delivery_retry_delay = run.settings.delivery_retry_delay;
  worker_settings.ftp_tls = run.settings.ftp_tls;
  worker_settings.sftp = run.settings.sftp;
  worker_settings.stop = &run.stop;
  LogFilesSink sink(*run.log);
  const bool error = RunJobsOnPool(jobs, run.settings.thread_count, worker_settings, sink,
                                  &run.report.outcomes);
  const bool stopped = run.stop.requested();
  if (stopped) run.log->AddError(StopLine(run.stop));
  run.log->Close();

  if (error || stopped) {
    WriteReport(run, kExitJobsFailed, stopped ? StopLine(run.stop) : std::string());
    return kExitJobsFailed;
  }
  // The report is complete before RESULT.TXT says "OK".
  WriteReport(run, kExitDone, {});
  WriteRunResult("OK", ResultFilePath(run, ".TXT"));
  return kExitDone;
}

int RunSingleJobMode(RunState& run) {
  Job job;
  ResetOptions(job);
  SetDefaultFormats(job);
  const OptionContext ctx = run.Options();
  for (const std::string& arg : run.args) ApplyOption(arg, job, ctx);
  if (job.data_link_text.empty()) ConsoleLine("Nothing to connect to");
  return kExitDone;
}

int Run(RunState& run) {
  std::setlocale(LC_ALL, "");
  run.format = LocaleFormatSettings();
  run.format.decimal_separator = '.';

  CheckCommandLine(run.args, IsJobOption);
  if (std::string part; FindSwitch(run.args, "part", part)) run.part = ParseRunPart(part);
  if (HasVersionSwitch(run.args)) {
    ConsoleLine(kVersionLine);
    return kExitDone;
  }
  if (RunPasswordCommand(run)) return kExitDone;

  const PasswordChange none;
  run.settings = ReadSettings(HomeFolder(), none, none, none, none, none);
  run.log.emplace(run.settings.log_dir, run.format);
  run.log->set_run_stamp(RunStampText(NowLocal()));
  run.log->set_name_suffix(run.part.NameSuffix());
  run.log->set_utf8(run.settings.log_utf8);

  if (HasHelpSwitch(run.args)) {
    ConsoleLine("Read readme.txt text file");
    ConsoleLine("  readme.txt:   " + ExecutableFolder() + "readme.txt");
    ConsoleLine("  settings.ini: " + HomeFolder() + "settings.ini");
    return kExitDone;
  }
  std::string list_file, unused;
  const bool list_mode = FindSwitch(run.args, "list", list_file);
  const bool check = FindSwitch(run.args, "check", unused);
  // From here on a list run that ends any other way than by finishing every
  // job without an error (a start error, a signal, a crash) leaves "ERROR".
  // A check runs nothing and leaves the last run's result alone.
  std::optional<SignalWatch> signals;
  if (list_mode && !check) {
    WriteRunResult("ERROR", ResultFilePath(run, ".TXT"));
    run.report_path = ResultFilePath(run, ".json");
    run.report.version = kVersion;
    run.report.start = IsoNow();
    run.report.list_file = list_file;
    if (run.part.given) run.report.part_k = run.part.k, run.report.part_n = run.part.n;
    WriteReport(run, std::nullopt, {});
    // Now a signal can be taken: RESULT.TXT no longer says "OK".
    signals.emplace(run.stop);
  } else {
    ReleaseStopSignals();  // nothing here to stop cleanly
  }
  run.names = LoadNamesTable(HomeFolder());
  if (list_mode) return RunListMode(run, list_file, check);
  return RunSingleJobMode(run);
}

}  // namespace

int Main(int argc, char** argv) {
  // Before anything else: no signal may end the process before a list
  // run's RESULT.TXT says "ERROR".
  HoldStopSignals();
  if (argc <= 1) {
    ConsoleLine("Use -help");
    return kExitDone;
  }
  RunState run;
  run.args.assign(argv + 1, argv + argc);
  int status = kExitRunError;
  std::string error_line;
  try {
    status = Run(run);
  } catch (const Error& e) {
    error_line = e.class_name() + ": " + e.message();
  } catch (const std::exception& e) {
    error_line = std::string("Exception: ") + e.what();
  }
  if (error_line.empty()) {
    try {
      if (run.log) run.log->Close();
    } catch (const std::exception&) {
    }
    return status;
  }
  // A run-ending error goes to the log and error files too, when the log
  // folder is known; the console always shows it. A list run's report
  // ends with it.
  bool shown = false;
  if (!run.report_path.empty()) {
    try {
      WriteReport(run, kExitRunError, error_line);
    } catch (const std::exception& e) {
      ConsoleLine(std::string("Exception: ") + e.what());
    }
  }
  try {
    if (run.log) {
      run.log->AddError(error_line);  // console too
      shown = true;
      run.log->Close();
    }
  } catch (const std::exception&) {
  }
  if (!shown) ConsoleLine(error_line);
  return kExitRunError;
}

}  // namespace ostrevane
