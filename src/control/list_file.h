// The list file of a run and the expansion of its jobs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/datetime.h"
#include "control/job.h"
#include "control/options.h"

namespace ostrevane {

// One job per line that is neither blank nor a comment (first non-blank
// character "#" or ";"), in file order. An option that fails (an unknown
// option, a missing file) raises its error with "NAME, line N: " before the
// message; with `problems` given, every such error of the list is added
// there ("Class: message") instead and reading goes on. With `sha256`, it
// receives the SHA-256 of the file's bytes as read.
std::vector<Job> ReadListLines(const std::string& name, const OptionContext& ctx,
                               std::vector<std::string>* problems = nullptr,
                               std::string* sha256 = nullptr);
// Completes every job: GUID, time stamp, connection string, defaults,
// and what a line takes from the line above. A job that cannot be completed
// ("Data Source already implemented"; a -frtemplate without -mail on its
// line, which the line above's -mail would replace or which nothing mails)
// raises its error with "LIST_NAME, line N: " before the message ("line N: "
// without a name); with `problems` given, every such error is added there
// ("Class: message") instead and expansion goes on.
void ExpandList(std::vector<Job>& jobs, const OptionContext& ctx,
                const Clock& clock = SystemClock(), const std::string& list_name = {},
                std::vector<std::string>* problems = nullptr);
// "LIST_NAME, line N: " ("line N: " for an empty name): where a message of
// the list is about.
std::string ListLocation(const std::string& list_name, int line);
std::string DataSourceOf(std::string_view init_string);
// Appends "; Data Source=" + data_source; raises "Data Source already implemented"
// when the string already names one.
void WithDataSource(std::string& init_string, std::string_view data_source);

// What "-list:FILE -check" prints for the expanded jobs: `lines`, and the
// number of jobs with an "error" line, which the run would fail. `mail`
// (from settings.ini) tells which mail deliveries cannot work: an "error"
// line in the job's block when no SMTP server is set, a warning line before
// the job count when a job mails and the sender is no mail address. `s3`
// names the object store of -s3 (an "error" line without an endpoint or
// bucket). Secrets are masked (MaskSecrets) wherever an option, a data
// source or a server is shown.
struct JobListing {
  std::vector<std::string> lines;
  int failing_jobs = 0;
};
JobListing DescribeJobs(const std::vector<Job>& jobs, const MailSettings& mail,
                        const S3Settings& s3 = S3Settings());

}  // namespace ostrevane
