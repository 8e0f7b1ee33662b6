// What a worker does with one job: connect, run the statement or script in
// a transaction, write, deliver, run the follow-up statements, commit or
// roll back, and leave its lines in the message list.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "common/format_settings.h"
#include "common/stop_flag.h"
#include "control/job.h"
#include "data/dataset.h"
#include "delivery/delivery.h"
#include "log/console.h"
#include "settings/settings.h"
#include "workers/stop_request.h"
#include "workers/writer_lock.h"

namespace ostrevane {

// The settings a worker works with: its own copies, taken when it starts.
struct WorkerSettings {
  FormatSettings format;
  MailSettings mail;
  ServerSettings http_proxy;
  int connection_timeout = 5;  // seconds
  int command_timeout = 30;    // seconds
  int delivery_timeout = 600;  // seconds for each delivery as a whole; 0: none
  int job_timeout = 0;         // seconds for each job as a whole, unless it sets its own; 0: none
  int delivery_retries = 0;    // tries after a transient delivery failure
  int delivery_retry_delay = 30;  // seconds before the first retry, doubled for each next
  int ftp_tls = 0;             // key TLS of section FTP
  SftpSettings sftp;           // port, key file and known hosts of the SFTP delivery
  S3Settings s3;               // the object store of the S3 delivery
  BackendFactory backend_factory = MakeBackend;
  // Shared by the whole pool; outlives it. Null: the run cannot be stopped.
  const StopRequest* stop = nullptr;
  // Where a script shows its progress dots; shared, outlives the pool.
  // Null: no dots.
  Console* console = nullptr;
};

// One line of a job's report. Whether it is an error is decided by the tag
// the program gave it, never by what the text says: a file may well be
// named "[ERROR].csv".
struct MessageLine {
  std::string text;  // time, tag, message
  bool is_error = false;
};

// The message list of a worker: the lines of its current job.
class MessageList {
 public:
  explicit MessageList(const FormatSettings& formats) : formats_(formats) {}
  // Every line added from now on names this job (JobLabel), so a line read
  // alone, in the log or the error file, says which job it is about.
  void set_job(const Job& job) { job_label_ = JobLabel(job) + ": "; }
  // Appends one line: time, tag ("[NOTE]   " for 0, "[ERROR]  " for 1), the
  // job's label, message.
  void Add(const std::string& text, int tag);
  void Clear() { lines_.clear(); }
  const std::vector<MessageLine>& lines() const { return lines_; }

 private:
  const FormatSettings& formats_;
  std::string job_label_;
  std::vector<MessageLine> lines_;
};

// One delivery a job attempted, for the run report.
struct DeliveryRecord {
  std::string kind;    // "mail", "http", "ftp", "sftp", "s3"
  std::string target;  // recipients, URL or server and folder; never a login or password
  bool sent = false;
  std::vector<StoredObject> objects;  // S3: the objects stored, also before a failure
};

// How a job ended, for the run report. Filled by RunJob.
struct JobOutcome {
  enum class Status { kNotRun, kDone, kFailed };
  Status status = Status::kNotRun;
  std::string error;       // the error line's message when failed
  std::string note;        // a remark on a job that is done without output
  int64_t duration_ms = 0; // from the start of the connection to the end
  int64_t rows_read = 0;   // records fetched by the main query
  std::vector<WrittenFile> files;
  std::vector<DeliveryRecord> deliveries;
};

// The note of a job that ended on an empty result under "-ifempty:skip".
inline constexpr char kNothingToWrite[] = "zero records returned, nothing to write";
// The note of a job whose empty result was written and delivered
// ("-ifempty:deliver").
inline constexpr char kDeliveredEmpty[] = "zero records returned, files written empty";

// Everything one job run uses; the worker owns it all. Its connection takes
// turns on shared database files (Connection::set_file_turns).
struct JobResources {
  Connection& connection;
  Query& query;
  Query& record_query;
  Job& job;
  const WorkerSettings& settings;
  WriterLock& writer_lock;
  MessageList& messages;
  // Set when the pool is being shut down: the job is rolled back instead
  // of committed.
  const std::atomic<bool>& cancelled;
  // Raised by the worker's JobWatch when the run is stopped or the job's
  // time limit passed: the job ends as soon as it can, rolls back and says
  // why.
  const StopFlag& stop;
  JobOutcome& outcome;
};

// The job's time limit in seconds: its -jobtimeout, else the settings'
// job_timeout; 0 or less: none.
int JobTimeLimit(const Job& job, const WorkerSettings& settings);

// Runs job. Never throws: every outcome ends in the message list, with
// either "Done" or one error line last, and in run.outcome.
void RunJob(JobResources& run);

// Whether a job needs to read its result set twice (two writers or more, the
// per-record post-SQL, or an HTML mail body).
bool NeedsSecondPass(const Job& job);

}  // namespace ostrevane
