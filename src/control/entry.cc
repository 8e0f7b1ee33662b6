#include "control/entry.h"

#include <clocale>
#include <optional>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/datetime.h"
#include "common/error.h"
#include "common/format_settings.h"
#include "common/path.h"
#include "control/job.h"
#include "control/list_file.h"
#include "control/names.h"
#include "control/options.h"
#include "control/switches.h"
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
  void LogLine(std::string_view line) override { log_.LogLine(line); }
  void LogError(std::string_view line) override { log_.LogError(line); }

 private:
  LogFiles& log_;
};

// The run state: written on the main thread before any worker starts and
// read-only afterwards.
struct RunState {
  std::vector<std::string> args;
  TFormatSettings format;
  std::string joiner = " ";
  Settings settings;
  NamesTable names;
  std::optional<LogFiles> log;  // closed before the program ends, however it ends

  OptionContext Options() const { return OptionContext{&settings, &names, format, joiner}; }
};

// Returns true when a password command was given and carried out.
bool RunPasswordCommand(RunState& st) {
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
    if (!FindSwitch(st.args, kCommands[i].name, value)) continue;
    PasswordChange change[5];
    change[i] = {true, value};
    st.settings = LoadSettings(HomeFolder(), change[0], change[1], change[2], change[3], change[4]);
    st.log.emplace(st.settings.log_dir, st.format);
    st.log->LogNote(kCommands[i].message);
    return true;
  }
  return false;
}

int RunListMode(RunState& st, const std::string& list_file) {
  const OptionContext ctx = st.Options();
  std::vector<tRec> jobs = ReadListFile(list_file, ctx);
  ExpandJobs(jobs, ctx);

  std::string unused;
  if (FindSwitch(st.args, "check", unused)) {
    for (const std::string& line : DescribeJobs(jobs)) ConsoleLine(line);
    return kExitDone;
  }

  st.log->LogNote("Ostrevane v00006");
  WorkerSettings ws;
  ws.format = st.format;
  ws.mail = st.settings.mail;
  ws.http_proxy = st.settings.http_proxy;
  ws.connection_timeout = st.settings.connection_timeout;
  ws.command_timeout = st.settings.command_timeout;
  LogFilesSink sink(*st.log);
  const bool error = DispatchJobs(jobs, st.settings.thread_count, ws, sink);
  st.log->Close();

  std::string path = NormalizePath(st.settings.log_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  WriteResultFile(error ? "ERROR" : "OK", path + "RESULT.TXT");
  return error ? kExitJobsFailed : kExitDone;
}

int RunSingleJobMode(RunState& st) {
  tRec rec;
  ClearRec(rec);
  SetDefaultFormats(rec);
  const OptionContext ctx = st.Options();
  for (const std::string& arg : st.args) ParseOption(arg, rec, ctx);
  if (rec.cs.empty()) ConsoleLine("Nothing to connect to");
  return kExitDone;
}

int Run(RunState& st) {
  std::setlocale(LC_ALL, "");
  st.format = LocaleFormatSettings();
  st.format.DecimalSeparator = '.';

  if (RunPasswordCommand(st)) return kExitDone;

  const PasswordChange none;
  st.settings = LoadSettings(HomeFolder(), none, none, none, none, none);
  st.names = LoadNames(HomeFolder());
  st.log.emplace(st.settings.log_dir, st.format);
  st.log->set_run_stamp(RunStampText(NowLocal()));

  if (HasHelpSwitch(st.args)) {
    ConsoleLine("Read readme.txt text file");
    return kExitDone;
  }
  std::string list_file;
  if (FindSwitch(st.args, "list", list_file)) return RunListMode(st, list_file);
  return RunSingleJobMode(st);
}

}  // namespace

int Main(int argc, char** argv) {
  if (argc <= 1) {
    ConsoleLine("Use -help");
    return kExitDone;
  }
  RunState st;
  st.args.assign(argv + 1, argv + argc);
  int status = kExitRunError;
  std::string error_line;
  try {
    status = Run(st);
  } catch (const Error& e) {
    error_line = e.class_name() + ": " + e.message();
  } catch (const std::exception& e) {
    error_line = std::string("Exception: ") + e.what();
  }
  try {
    if (st.log) st.log->Close();
    if (error_line.empty()) return status;
    ConsoleLine(error_line);
  } catch (const std::exception&) {
    // Nothing more can be reported.
  }
  return kExitRunError;
}

}  // namespace ostrevane
