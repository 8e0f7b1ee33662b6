// Runs the built ostrevane executable for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/json_reader.h"

namespace ostrevane::testing {

// Whether this build runs under a sanitizer, whose shadow memory and
// quarantine are in every memory figure: tests that bound the program's
// memory leave that check out there.
inline constexpr bool kSanitizedBuild =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

struct ProgramResult {
  int exit_code = -1;
  std::string out;       // standard output and standard error, interleaved
  long peak_rss_kb = 0;  // the process's largest resident set (its rusage)
};

// The two streams of a run apart.
struct ProgramStreams {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  long peak_rss_kb = 0;
};

// Runs `ostrevane args...` in `cwd` with OSTREVANE_HOME=`home` (settings.ini
// and names.csv live there) plus `env`. No standard input.
ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& home,
                         const std::map<std::string, std::string>& env = {});

// The same with standard output and standard error kept apart.
ProgramStreams RunProgramStreams(const std::vector<std::string>& args, const std::string& cwd,
                                 const std::string& home,
                                 const std::map<std::string, std::string>& env = {});

// Runs any program as RunProgram runs ostrevane: `command` is its path and
// its arguments.
ProgramResult RunCommand(const std::vector<std::string>& command, const std::string& cwd,
                         const std::string& home,
                         const std::map<std::string, std::string>& env = {});

// Another user for the program to run as (a test that runs as root
// switching to an unprivileged user).
struct RunAs {
  uid_t uid;
  gid_t gid;
};

// Starts `ostrevane args...` as RunProgram does, its output thrown away,
// and returns its process id at once; the caller ends it and reaps it.
// With `as`, the program runs as that user (no supplementary groups).
pid_t StartProgram(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& home, std::optional<RunAs> as = std::nullopt);

// The path of the built executable.
std::string ProgramPath();

// The text (UTF-8) of the run's log file in `log_dir`, the first file
// whose name ends in "_log.txt", decoded from UTF-16LE when it starts with
// that mark; "" when there is none.
std::string RunLogText(const std::string& log_dir);

// The jobs of the run report (RESULT.json) in `log_dir`, in list order;
// none when the report lists none.
std::vector<JsonValue> RunReportJobs(const std::string& log_dir);

}  // namespace ostrevane::testing
