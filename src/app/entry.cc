#include "app/entry.h"

#include <clocale>
#include <optional>
#include <string>
#include <vector>

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
    run.log->AddNote(kCommands[i].message);
    return true;
  }
  return false;
}

int RunListMode(RunState& run, const std::string& list_file) {
  const OptionContext ctx = run.Options();
  std::vector<Job> jobs = ReadListLines(list_file, ctx);
  ExpandList(jobs, ctx);

  std::string unused;
  if (FindSwitch(run.args, "check", unused)) {
    for (const std::string& line : DescribeJobs(jobs)) ConsoleLine(line);
    return kExitDone;
  }

  run.log->AddNote("Ostrevane v00006");
  WorkerSettings worker_settings;
  worker_settings.format = run.format;
  worker_settings.mail = run.settings.mail;
  worker_settings.http_proxy = run.settings.http_proxy;
  worker_settings.connection_timeout = run.settings.connection_timeout;
  worker_settings.command_timeout = run.settings.command_timeout;
  worker_settings.delivery_timeout = run.settings.delivery_timeout;
  LogFilesSink sink(*run.log);
  const bool error = RunJobsOnPool(jobs, run.settings.thread_count, worker_settings, sink);
  run.log->Close();

  std::string path = NormalizePath(run.settings.log_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  WriteRunResult(error ? "ERROR" : "OK", path + "RESULT.TXT");
  return error ? kExitJobsFailed : kExitDone;
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

  if (RunPasswordCommand(run)) return kExitDone;

  const PasswordChange none;
  run.settings = ReadSettings(HomeFolder(), none, none, none, none, none);
  run.names = LoadNamesTable(HomeFolder());
  run.log.emplace(run.settings.log_dir, run.format);
  run.log->set_run_stamp(RunStampText(NowLocal()));

  if (HasHelpSwitch(run.args)) {
    ConsoleLine("Read readme.txt text file");
    return kExitDone;
  }
  std::string list_file;
  if (FindSwitch(run.args, "list", list_file)) return RunListMode(run, list_file);
  return RunSingleJobMode(run);
}

}  // namespace

int Main(int argc, char** argv) {
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
  try {
    if (run.log) run.log->Close();
    if (error_line.empty()) return status;
    ConsoleLine(error_line);
  } catch (const std::exception&) {
    // Nothing more can be reported.
  }
  return kExitRunError;
}

}  // namespace ostrevane
