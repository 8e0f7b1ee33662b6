// Running some jobs of a list: "-jobs:5,7-9" picks them by number, and
// "-rerun:PATH" picks those that failed or did not run in the run that
// PATH (a RESULT.json) reports. Either way the whole list is read and
// expanded first, so that every job inherits what it always does; job
// numbers stay those of the whole list.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "control/job.h"
#include "control/options.h"

namespace ostrevane {

class JobSelection {
 public:
  // How the run chose ("-jobs:5,7-9", "-rerun:log/RESULT.json"); empty:
  // every job.
  std::string origin;
  bool given() const { return !origin.empty(); }

  // Adds the job numbers first..last (job numbers of the whole list).
  void Add(int first, int last);
  bool Has(int number) const;
  // The largest number added, 0 when none is.
  int Largest() const { return ranges_.empty() ? 0 : ranges_.rbegin()->second; }

 private:
  std::map<int, int> ranges_;  // first -> last, apart and not touching
};

// Reads the value of -jobs: job numbers and ranges "A-B" (A <= B), separated
// by commas. Raises Exception naming the switch for anything else.
JobSelection ParseJobsSwitch(std::string_view value);

// The jobs whose numbers the selection names, in list order (all of them
// when none is given). Raises Exception for a number that no job of the
// expanded list has.
std::vector<Job> SelectJobs(const std::vector<Job>& jobs, const JobSelection& selection);

// What a report tells a rerun: which list it ran and which of its jobs
// are to run again.
struct RerunSource {
  std::string list_file;    // as that run was given it
  std::string list_sha256;  // of the list's bytes as that run read them
  JobSelection selection;   // the jobs that failed or did not run
};

// Reads the run report `path` (RESULT.json or a kept <stamp>_result.json).
// Raises Exception naming the file when it cannot be read or parsed, is no
// run report of this schema, reports a run that has not ended (no exit
// status: still running, or killed), one that ended before its list was
// read, or a -run job, or has no checksum of its list.
RerunSource ReadRerunReport(const std::string& path);

// Raises Exception when the list file's bytes now have another SHA-256
// than the report recorded: job numbers would no longer name the same
// jobs.
void CheckListUnchanged(const RerunSource& source, const std::string& report_path,
                        const std::string& list_file);

// -jobs and -rerun on the command line `args`: the jobs of the list that
// run (none given: every job). -rerun reads its report and names the list
// when -list does not (`list_mode` and `list_file` are updated), and
// refuses a list that has changed since. Raises Exception for -jobs and
// -rerun together, either with -run, -jobs without a list, and the errors
// of ParseJobsSwitch, ReadRerunReport and CheckListUnchanged.
JobSelection ChooseJobs(const std::vector<std::string>& args, bool& list_mode,
                        std::string& list_file);

// -params beside -list on the command line `args`: values for every job of
// the list, in order. Any other job option there raises Exception: a list
// run takes its job options from its list.
std::vector<NameValue> RunParameters(const std::vector<std::string>& args,
                                     const OptionContext& ctx);

}  // namespace ostrevane
