#include "app/entry.h"

#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/format_locale_line.h"
#include "app/job_selection.h"
#include "app/run_metrics.h"
#include "app/run_part.h"
#include "app/run_report.h"
#include "app/signal_watch.h"
#include "app/switches.h"
#include "common/atomic_file.h"
#include "common/character_type.h"
#include "common/codepage.h"
#include "common/datetime.h"
#include "common/error.h"
#include "common/format_locale.h"
#include "common/format_settings.h"
#include "common/path.h"
#include "common/text.h"
#include "common/text_file.h"
#include "control/job.h"
#include "control/list_file.h"
#include "control/names.h"
#include "control/options.h"
#include "log/console.h"
#include "log/log_files.h"
#include "log/progress_display.h"
#include "settings/settings.h"
#include "workers/dispatcher.h"

namespace ostrevane {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitJobsFailed = 1;
constexpr int kExitRunError = 2;

constexpr char kVersionLine[] = "Ostrevane v00006";
constexpr char kVersion[] = "v00006";

// The dispatcher prints through the run's log files, and shows the
// progress of the running jobs on the console.
class LogFilesSink : public ReportSink {
 public:
  LogFilesSink(LogFiles& log, ProgressDisplay& progress) : log_(log), progress_(progress) {}
  void AddLine(std::string_view line) override { log_.AddLine(line); }
  void AddError(std::string_view line) override { log_.AddError(line); }
  std::chrono::milliseconds progress_interval() const override { return progress_.interval(); }
  void ShowProgress(const std::vector<JobProgress>& running) override { progress_.Update(running); }

 private:
  LogFiles& log_;
  ProgressDisplay& progress_;
};

// "Class: message", as the console, the log and RESULT.json show an error
// that ends a run.
std::string ErrorLine(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e))
    return error->class_name() + ": " + error->message();
  return std::string("Exception: ") + e.what();
}

// The run state: written on the main thread before any worker starts and
// read-only afterwards.
struct RunState {
  std::vector<std::string> args;
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  // -quiet, and live status lines when standard error is a terminal. Set
  // once the command line is checked.
  std::optional<Console> console;
  ProgressDisplay::Mode progress = ProgressDisplay::Mode::kOff;
  FormatLocale format_locale;  // the locale of `format`, and why that one
  FormatSettings format;
  std::string joiner = " ";
  Settings settings;
  NamesTable names;
  std::optional<LogFiles> log;  // closed before the program ends, however it ends
  std::string run_stamp;        // "YYYYMMDD-HHNNSS" of the start: names the run's files
  RunPart part;
  JobSelection selection;  // -jobs or -rerun: the jobs of the list that run
  // -params beside -list: values for every job of the list.
  std::vector<NameValue> run_parameters;
  // The run report of a list run (not a check): its file and the copy kept
  // beside the log files, empty for other runs.
  std::string report_path;
  std::string history_path;
  std::string metrics_path;  // metrics_file of settings.ini for this run; empty: none
  RunReport report;
  // The one member written while workers run: by the signal watcher, and
  // atomically.
  StopRequest stop;

  OptionContext Options() const { return OptionContext{&settings, &names, format, joiner}; }
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started);
  }
  // The log files, shown on the run's console.
  void OpenLog() {
    log.emplace(settings.log_dir, format);
    log->set_console(&*console);
  }
};

// The run's date and time formats, once settings.ini is read: those of its
// format_locale, else of the process locale.
void ChooseFormats(RunState& run) {
  run.format_locale = ChooseFormatLocale(run.settings.format_locale, run.settings.path);
  run.format = run.format_locale.formats;
  run.format.decimal_separator = '.';
}

// The lines of settings.ini that are ignored, at the start: in the log
// too when the run writes one.
void ShowSettingsWarnings(RunState& run, bool in_log) {
  for (const std::string& warning : run.settings.warnings) {
    const std::string line = std::string(TagText(kTagWarning)) + " " + warning;
    if (in_log)
      run.log->AddNote(line);
    else
      ConsoleLine(line);
  }
}

// Where the manual and settings.ini are; `settings_problem` says why
// settings.ini could not be read or made (help still answers then).
void ShowHelp(const std::string& settings_problem) {
  ConsoleLine("Read readme.txt text file");
  ConsoleLine("  readme.txt:   " + ExecutableFolder() + "readme.txt");
  ConsoleLine("  settings.ini: " + HomeFolder() + "settings.ini");
  if (!settings_problem.empty()) ConsoleLine("  " + settings_problem);
  ConsoleLine("  (OSTREVANE_HOME, when set, names the folder of settings.ini and names.csv)");
}

// -quiet shows error lines only. The progress shows live on standard error
// when it is a terminal that understands cursor moves (not with -quiet,
// unless -progress asks for it), else as plain lines with -progress.
void SetUpConsole(RunState& run) {
  const bool quiet = HasWholeSwitch(run.args, "quiet");
  const bool asked = HasWholeSwitch(run.args, "progress");
  const char* term = std::getenv("TERM");
  const bool terminal = ::isatty(STDERR_FILENO) && term && *term && std::string(term) != "dumb";
  if (terminal && (asked || !quiet))
    run.progress = ProgressDisplay::Mode::kLive;
  else if (asked)
    run.progress = ProgressDisplay::Mode::kPlain;
  run.console.emplace(quiet, run.progress == ProgressDisplay::Mode::kLive);
}

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
      {"sets3secret", "S3 secret key was changed"},
  };
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    std::string value;
    if (!FindSwitch(run.args, kCommands[i].name, value)) continue;
    PasswordChange change[std::size(kCommands)];
    change[i] = {true, value};
    run.settings = ReadSettings(HomeFolder(), change[0], change[1], change[2], change[3],
                                change[4], change[5]);
    run.OpenLog();
    run.log->set_utf8(run.settings.log_utf8);
    run.log->AddNote(kCommands[i].message);
    return true;
  }
  return false;
}

// The log folder as a prefix of file names: "" or ending in "/".
std::string LogFolder(const RunState& run) {
  std::string path = NormalizePath(run.settings.log_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// RESULT.TXT, RESULT.json, or with -part:3/8 RESULT.3of8.TXT, ...
std::string ResultFilePath(const RunState& run, const char* extension) {
  return LogFolder(run) + "RESULT" + run.part.NameSuffix() + extension;
}

// The run's report kept beside its log files: 20240305-070809_result.json,
// or 20240305-070809.3of8_result.json for a part.
std::string HistoryFilePath(const RunState& run) {
  return LogFolder(run) + run.run_stamp + run.part.NameSuffix() + "_result.json";
}

// Writes `json` as the report file `path`: whole by way of a temporary
// file, or, for the last version (`in_place_allowed`) on a disk too full
// for one, over the old file in place.
void WriteReportFile(const std::string& json, const std::string& path, bool in_place_allowed) {
  try {
    WriteRunResult(json, path);
  } catch (const Error& e) {
    if (!in_place_allowed) throw;
    try {
      OverwriteRunResult(json, path);
    } catch (const Error&) {
      throw e;
    }
  }
}

// Replaces the metrics file with the run's metrics, carrying over what the
// earlier version knew of the last good run. A file that holds anything
// else (metrics_file naming the wrong file) is left alone. After a failure
// the run writes no more metrics, so that its error is told once.
void WriteMetrics(RunState& run) {
  if (run.metrics_path.empty()) return;
  const std::string path = NormalizePath(run.metrics_path);
  auto fail = [&](const std::string& why) {
    run.metrics_path.clear();
    return Error(kEFCreateError,
                 "Cannot write the metrics file \"" + CutForMessage(AbsolutePath(path)) +
                     "\" (metrics_file in section [Ostrevane] of settings.ini): " + why);
  };
  std::string previous;
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > kMetricsFileLimit && !ec)
    throw fail("it holds something else than metrics, and is not replaced");
  bool opened = false;
  TryReadWholeFile(path, previous, opened);
  if (!IsRunMetricsText(previous))
    throw fail("it holds something else than metrics, and is not replaced");
  const std::string part =
      run.part.given ? std::to_string(run.part.k) + "/" + std::to_string(run.part.n) : "";
  AtomicFile file(path, 0666);
  if (const int err = WriteAndCommit(file, RunMetricsText(run.report, part, previous), true))
    throw fail(std::strerror(err));
}

// Writes the run report as it stands; `status` and `error` make it the last
// version (ended), none leaves it open (started, still running). The last
// version is written in place when a full disk refuses its temporary file:
// it comes from memory and is the one record of what the jobs did.
void WriteReport(RunState& run, std::optional<int> status, const std::string& error) {
  RunReport& report = run.report;
  if (status) {
    report.end_unix = static_cast<long long>(std::time(nullptr));
    report.end = IsoLocalTime(report.end_unix);
    report.exit_status = status;
    report.error = error;
  }
  const std::string json = RunReportJson(report);
  WriteReportFile(json, run.report_path, status.has_value());
  WriteReportFile(json, run.history_path, status.has_value());
  WriteMetrics(run);
}

// RESULT.TXT says "ERROR" from the start of a list run until its clean end.
// When even that cannot be written (a full disk), the file goes, so that an
// earlier run's "OK" never outlives this run's start, and the run ends.
void MarkRunStarted(const RunState& run) {
  const std::string path = ResultFilePath(run, ".TXT");
  try {
    WriteRunResult("ERROR", path);
  } catch (const Error&) {
    std::error_code ignored;
    std::filesystem::remove(NormalizePath(path), ignored);
    throw;
  }
}

std::string StopLine(const StopRequest& stop) {
  return "The run was stopped by signal " + std::to_string(stop.signal_number());
}

// The lines that open the log of a list run, after the banner: which list
// runs, and the folder that relative names are taken from.
std::vector<std::string> StartOfLogLines(const std::string& list_file) {
  std::error_code ec;
  const std::string folder = std::filesystem::current_path(ec).string();
  return {
      "list file: " + (list_file.empty() ? std::string("none, the job of the command line (-run)")
                                         : AbsolutePath(list_file)),
      "working folder: " + (ec ? "unknown (" + ec.message() + ")" : folder)};
}

// The job of the command line (-run), as a list of one line would give it:
// its options applied in order, then expanded. The report shows its
// options, each masked on its own (a value may hold spaces).
std::vector<Job> CommandLineJob(const RunState& run) {
  std::vector<Job> jobs(1);
  Job& job = jobs[0];
  ResetOptions(job);
  job.list_line_number = 1;
  const OptionContext ctx = run.Options();
  for (const std::string& option : JobOptionParameters(run.args)) {
    ApplyOption(option, job, ctx);
    job.list_line += (job.list_line.empty() ? "" : " ") + MaskedOption(option);
  }
  return jobs;
}

bool AnyJobRan(const std::vector<JobOutcome>& outcomes) {
  for (const JobOutcome& outcome : outcomes)
    if (outcome.status != JobOutcome::Status::kNotRun) return true;
  return false;
}

// RESULT.TXT already says "ERROR" (unless `check`): it says "OK" only once
// every job has ended without an error, the run was not stopped and its log
// and report are complete. `list_file` empty: the job of the command line.
int RunListMode(RunState& run, const std::string& list_file, bool check) {
  const OptionContext ctx = run.Options();
  // A check lists every mistake of the list at once; a run stops at the
  // first, before any job runs.
  std::vector<std::string> problems;
  std::string list_sha256;
  std::vector<Job> jobs =
      list_file.empty() ? CommandLineJob(run)
                        : ReadListLines(list_file, ctx, check ? &problems : nullptr, &list_sha256);
  // A list without a job is a mistake (a file cut short, the wrong file),
  // not a good night with nothing to do.
  if (jobs.empty() && problems.empty()) throw Exception(list_file + ": the list holds no job");
  ExpandList(jobs, ctx, SystemClock(), list_file, check ? &problems : nullptr);
  for (Job& job : jobs) job.run_parameters = run.run_parameters;
  // -jobs and -rerun pick jobs of the whole list, and a part runs its share
  // of those, all numbered as in the whole list.
  try {
    jobs = SelectJobs(jobs, run.selection);
  } catch (const Error& e) {
    if (!check) throw;
    problems.push_back(ErrorLine(e));
  }
  if (!check && run.part.given) jobs = JobsOfPart(jobs, run.part);
  if (!check) {
    run.report.list_sha256 = list_sha256;
    run.report.selection = run.selection.origin;
    run.report.jobs = JobsForReport(jobs);
    run.report.inputs = InputFilesOf(jobs);
    WriteReport(run, std::nullopt, {});
  }

  if (check) {
    run.console->Note(FormatLocaleLine(run.format_locale, run.joiner));
    // A verdict: any error line printed makes the exit status 2.
    const JobListing listing = DescribeJobs(jobs, run.settings.mail, run.settings.s3);
    for (const std::string& line : listing.lines) run.console->Note(line);
    for (const std::string& problem : problems) run.console->Error(problem);
    if (!problems.empty())
      run.console->Error(std::to_string(problems.size()) + (problems.size() == 1
                                                                ? " mistake in the list"
                                                                : " mistakes in the list"));
    if (listing.failing_jobs > 0)
      run.console->Error(std::to_string(listing.failing_jobs) +
                         (listing.failing_jobs == 1 ? " job would fail: see its error lines"
                                                    : " jobs would fail: see their error lines"));
    return problems.empty() && listing.failing_jobs == 0 ? kExitDone : kExitRunError;
  }
  if (run.stop.requested()) {
    run.log->AddError(StopLine(run.stop));  // before any job could start
    run.log->AddNote(SummaryLine(run.report, run.Elapsed()));
    WriteReport(run, kExitRunError, StopLine(run.stop));
    return kExitRunError;
  }

  run.log->AddNote(kVersionLine);
  run.log->AddFileNote(FormatLocaleLine(run.format_locale, run.joiner));
  for (const std::string& line : StartOfLogLines(list_file)) run.log->AddNote(line);
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
  worker_settings.s3 = run.settings.s3;
  worker_settings.stop = &run.stop;
  worker_settings.console = &*run.console;
  ProgressDisplay progress(run.progress, *run.console, run.format);
  LogFilesSink sink(*run.log, progress);
  // Once jobs ran, a log file that cannot be written (a full disk) no
  // longer ends the run as one that could not start: the jobs that ran are
  // reported, the run ends as failed, and the report says why.
  std::string log_failure;
  bool error = false;
  try {
    error =
        RunJobsOnPool(jobs, run.settings.thread_count, worker_settings, sink, &run.report.outcomes);
  } catch (const Error& e) {
    if (!AnyJobRan(run.report.outcomes)) throw;
    log_failure = ErrorLine(e);
  }
  const bool stopped = run.stop.requested();
  // The last lines: the stop, the log's failure, the summary. The console
  // shows them however the files fare.
  auto last_line = [&](bool is_error, const std::string& text) {
    try {
      is_error ? run.log->AddError(text) : run.log->AddNote(text);
    } catch (const Error& e) {
      if (log_failure.empty()) log_failure = ErrorLine(e);
    }
  };
  if (stopped) last_line(true, StopLine(run.stop));
  if (!log_failure.empty()) last_line(true, "The log is incomplete: " + log_failure);
  last_line(false, SummaryLine(run.report, run.Elapsed()));
  run.log->Close();

  if (error || stopped || !log_failure.empty()) {
    try {
      WriteReport(run, kExitJobsFailed, stopped ? StopLine(run.stop) : log_failure);
    } catch (const Error& e) {
      run.console->Error(ErrorLine(e));
    }
    return kExitJobsFailed;
  }
  // The report is complete before RESULT.TXT says "OK". Without it the
  // jobs still ran: the run ends as failed, not as one that could not start,
  // and the report says so where it still can be written.
  try {
    WriteReport(run, kExitDone, {});
  } catch (const Error& e) {
    run.console->Error(ErrorLine(e));
    try {
      WriteReport(run, kExitJobsFailed, ErrorLine(e));
    } catch (const Error&) {
    }
    return kExitJobsFailed;
  }
  WriteRunResult("OK", ResultFilePath(run, ".TXT"));
  return kExitDone;
}

// Only checks the options: nothing runs, and nothing is written.
int RunSingleJobMode(RunState& run) {
  Job job;
  ResetOptions(job);
  SetDefaultFormats(job);
  const OptionContext ctx = run.Options();
  for (const std::string& option : JobOptionParameters(run.args)) ApplyOption(option, job, ctx);
  if (job.data_link_text.empty()) {
    run.console->Error("Nothing to connect to");
    return kExitRunError;
  }
  run.console->Note(
      "the options are valid; nothing was run (a job runs from a list file: -list, or -run)");
  return kExitDone;
}

int Run(RunState& run) {
  // The environment's locale gives the date and time formats unless
  // settings.ini pins them (ChooseFormats). The system's messages
  // (strerror) stay English under every locale, so that a log reads the
  // same under cron and in a shell and scripts can look for its texts.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_MESSAGES, "C");
  run.format = LocaleFormatSettings();
  run.format.decimal_separator = '.';

  CheckCommandLine(run.args, IsJobOption);
  SetUpConsole(run);
  if (std::string part; FindSwitch(run.args, "part", part)) run.part = ParseRunPart(part);
  if (HasVersionSwitch(run.args)) {
    ConsoleLine(kVersionLine);
    return kExitDone;
  }
  if (RunPasswordCommand(run)) return kExitDone;

  const PasswordChange none;
  const bool help = HasHelpSwitch(run.args);
  try {
    run.settings = ReadSettings(HomeFolder(), none, none, none, none, none);
  } catch (const Error& e) {
    // Help answers even where settings.ini cannot be made, such as for an
    // account without a writable home: it is how to find out where it goes.
    if (!help) throw;
    ShowHelp("settings.ini cannot be used: " + e.message());
    return kExitDone;
  }
  ChooseFormats(run);
  // The character type is UTF-8 whatever the environment's is, so that
  // database drivers that convert text with it keep every character. It
  // rewrites the environment's locale variables: after ChooseFormats, which
  // names the variable its formats came from; before any thread starts.
  MakeCharacterTypeUtf8();
  run.OpenLog();
  run.run_stamp = RunStampText(NowLocal());
  run.log->set_run_stamp(run.run_stamp);
  run.log->set_name_suffix(run.part.NameSuffix());
  run.log->set_utf8(run.settings.log_utf8);

  std::string list_file, unused;
  bool list_mode = FindSwitch(run.args, "list", list_file);
  const bool run_mode = HasWholeSwitch(run.args, "run");
  const bool check = FindSwitch(run.args, "check", unused);
  // -rerun runs a list even without -list.
  const bool runs_jobs = list_mode || run_mode || FindSwitch(run.args, "rerun", unused);
  ShowSettingsWarnings(run, runs_jobs && !check && !help);
  if (help) {
    ShowHelp({});
    return kExitDone;
  }
  if (list_mode && run_mode)
    throw Exception("-list and -run exclude each other: -run runs the job of the command line");
  // Before the run marks its start: a refused -rerun leaves the report it
  // read (and RESULT.TXT) as they are.
  run.selection = ChooseJobs(run.args, list_mode, list_file);
  if (list_mode) run.run_parameters = RunParameters(run.args, run.Options());
  // From here on a list run that ends any other way than by finishing every
  // job without an error (a start error, a signal, a crash) leaves "ERROR".
  // A check runs nothing and leaves the last run's result alone.
  std::optional<SignalWatch> signals;
  if ((list_mode || run_mode) && !check) {
    MarkRunStarted(run);
    run.report_path = ResultFilePath(run, ".json");
    run.history_path = HistoryFilePath(run);
    if (!run.settings.metrics_file.empty())
      run.metrics_path = MetricsFilePath(run.settings.metrics_file, run.part.NameSuffix());
    run.report.version = kVersion;
    run.report.start_unix = static_cast<long long>(std::time(nullptr));
    run.report.start = IsoLocalTime(run.report.start_unix);
    run.report.list_file = list_file;
    if (run.part.given) run.report.part_k = run.part.k, run.report.part_n = run.part.n;
    WriteReport(run, std::nullopt, {});
    // Now a signal can be taken: RESULT.TXT no longer says "OK".
    signals.emplace(run.stop);
  } else {
    ReleaseStopSignals();  // nothing here to stop cleanly
  }
  run.names = LoadNamesTable(HomeFolder());
  if (list_mode) {
    if (IsBlank(list_file)) throw Exception("list file can not be empty");
    return RunListMode(run, list_file, check);
  }
  if (run_mode) return RunListMode(run, {}, check);
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
  } catch (const std::exception& e) {
    error_line = CutForMessage(ErrorLine(e), kMessageLineLimit);
  }
  if (error_line.empty()) {
    try {
      if (run.log) run.log->Close();
    } catch (const std::exception&) {
    }
    return status;
  }
  // A run-ending error goes to the log and error files too, when the log
  // folder is known; the console (standard error) always shows it. A list
  // run's report ends with it.
  if (!run.report_path.empty()) {
    try {
      WriteReport(run, kExitRunError, error_line);
    } catch (const std::exception& e) {
      ConsoleErrorLine(ErrorLine(e));
    }
  }
  if (run.log) {
    try {
      run.log->AddError(error_line);  // the console shows it even when the files fail
    } catch (const std::exception&) {
    }
    try {
      run.log->Close();
    } catch (const std::exception&) {
    }
  } else {
    try {
      ConsoleErrorLine(error_line);
    } catch (const std::exception&) {
    }
  }
  return kExitRunError;
}

}  // namespace ostrevane
