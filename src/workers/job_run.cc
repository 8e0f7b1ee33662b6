#include "workers/job_run.h"

#include <chrono>
#include <exception>

#include "common/datetime.h"
#include "common/error.h"
#include "data/connection_string.h"
#include "delivery/delivery.h"
#include "delivery/http_post.h"
#include "delivery/retry.h"
#include "log/log_files.h"
#include "workers/name_checks.h"
#include "workers/script_runner.h"
#include "workers/sql_macros.h"
#include "writers/csv_writer.h"
#include "writers/file_batch.h"
#include "writers/json_lines_writer.h"
#include "writers/xml_writer.h"

namespace ostrevane {
namespace {

const char kJoiner[] = " ";
const char kEndedEarly[] = "The run ended before this job could be committed";

// Whether the job must end now: the pool is shutting down, a signal asked
// for a stop, or the job's time limit passed. Such a job is rolled back
// instead of committed.
bool RunEnded(const JobResources& run) {
  return run.cancelled.load() || run.stop.raised() ||
         (run.settings.stop && run.settings.stop->requested());
}

// The error of a job that was stopped: why it was, rather than what broke
// off (an interrupted statement, a dropped connection, an aborted transfer).
std::string StopMessage(const JobResources& run) {
  if (run.stop.reason() == StopReason::kTimeLimit)
    return "Timed out: the job took longer than the job_timeout of " +
           std::to_string(JobTimeLimit(run.job, run.settings)) + " s";
  return kEndedEarly;
}

// What a failed delivery left on its server, for the end of a stopped
// job's error: the user must learn of it whatever the job's error says.
std::string LeftBehind(const std::exception& e) {
  const auto* failed = dynamic_cast<const delivery::DeliveryError*>(&e);
  return failed ? failed->left_behind() : "";
}

// Waits for the writer lock, however long another job writes, unless this
// one is stopped meanwhile.
void TakeWriterLock(JobResources& run) {
  if (!run.writer_lock.Take(run.stop)) throw Exception(kEndedEarly);
}

// Closes the main query on every way out of the result steps, counting the
// records it read for the report first.
class CloseOnExit {
 public:
  CloseOnExit(Query& q, JobOutcome& outcome) : q_(q), outcome_(outcome) {}
  ~CloseOnExit() {
    outcome_.rows_read = q_.rows_read();
    q_.Close();
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  Query& q_;
  JobOutcome& outcome_;
};

std::string MessageOf(const std::exception& e) { return e.what(); }

// A result job without follow-up SQL whose statement only reads begins a
// reading transaction: it shares the database file with other readers.
// Script jobs and follow-up SQL write, and so does a statement that the
// backend cannot vouch for.
TransactionAccess AccessOf(JobResources& run) {
  const Job& job = run.job;
  if (IsResultJob(job) && job.per_record_sql.empty() && job.post_sql.empty() &&
      run.connection.OnlyReads(job.sql))
    return TransactionAccess::kRead;
  return TransactionAccess::kWrite;
}

// Whether a delivery sends the job's files (the HTML report mail sends none).
bool DeliversFiles(const Job& job) {
  return (!job.mail_to.empty() && job.report_template.empty()) || !job.http_url.empty() ||
         job.wants_http || !job.ftp_server.empty() || job.wants_ftp || !job.sftp_server.empty() ||
         job.wants_sftp || job.wants_s3;
}

// Runs the job's CSV, XML and JSON Lines writers under one hold of the writer lock and
// gives all their files their final names together, still under the lock
// (so jobs that name the same file replace it in the order they get the
// lock): a failure of either writer, or of a rename, leaves none of the
// job's files and lists none. A job that delivers its files keeps each one
// open from its rename on (WrittenFile::kept): another job may replace a
// file of the same name as soon as the lock is free, and the deliveries
// must send, and name the checksum of, the bytes this job wrote. Adds a
// "saved file " line for every file.
// An empty result reaches the writers only under -ifempty:deliver: each
// writer then writes its file(s) for no record (job.if_empty tells it).
void RunWriters(JobResources& run) {
  Job& job = run.job;
  const FormatSettings& formats = run.settings.format;
  Query& query = run.query;
  try {
    TakeWriterLock(run);
    const WriterLock::Hold hold(run.writer_lock);
    FileBatch batch;
    job.json_files.clear();
    if (!job.csv_path.empty()) WriteCsvFiles(job, query, formats, kJoiner, &batch);
    if (!job.xml_path.empty()) {
      XmlWriterOptions options;
      options.batch = &batch;
      WriteXmlFile(job, query, formats, options);
    }
    if (!job.json_path.empty()) WriteJsonFiles(job, query, formats, kJoiner, &batch);
    batch.Commit(&job.written_digests, DeliversFiles(job));
  } catch (...) {
    job.written_files.clear();
    job.written_digests.clear();
    job.json_files.clear();
    throw;
  }
  for (const std::string& name : job.written_files)
    run.messages.Add("saved file " + name, kTagNote);
}

// Runs one delivery, records it for the report, sent or failed, and adds
// `sent_note` to the job's lines when it went through.
template <typename Deliver>
void RunDelivery(JobResources& run, const char* kind, std::string target,
                 const std::string& sent_note, Deliver deliver) {
  run.outcome.deliveries.push_back({kind, std::move(target), false, {}});
  const size_t index = run.outcome.deliveries.size() - 1;
  deliver();
  run.outcome.deliveries[index].sent = true;
  run.messages.Add(sent_note, kTagNote);
}

void RunGlobalPostSql(JobResources& run) {
  Job& job = run.job;
  if (job.post_sql.empty()) return;
  // The global post-SQL is bound only from its own "--param " lines.
  Job global;
  ResetOptions(global);
  run.query.SetSql(job.post_sql);
  ApplySqlMacros(run.query.sql(), global);
  BindJobParameters(run.query.params(), global, run.settings.format, nullptr);
  run.query.Execute();
  run.messages.Add("Global post-SQL query executed", kTagNote);
}

// Writes the files of an open, non-empty result, delivers them and runs the
// per-record post-SQL.
void WriteAndDeliver(JobResources& run) {
  Job& job = run.job;
  const FormatSettings& formats = run.settings.format;
  Query& query = run.query;
  // The subject's field macros take the first record, before the writers
  // read past it.
  MailSettings mail = run.settings.mail;
  if (!job.mail_to.empty()) mail.subject = MailSubject(job, query, formats, mail.subject);
  RunWriters(run);

  if (!job.written_files.empty()) {
    // Waits between tries end early when the run is being stopped.
    delivery::SteadyRetryClock clock([&run] { return RunEnded(run); });
    DeliveryPolicy policy;
    policy.timeout_seconds = run.settings.delivery_timeout;
    policy.retry.retries = run.settings.delivery_retries;
    policy.retry.first_delay = std::chrono::seconds(run.settings.delivery_retry_delay);
    policy.retry.clock = &clock;
    policy.retry.note = [&run](const std::string& note) { run.messages.Add(note, kTagNote); };
    policy.retry.stop = &run.stop;
    if (!job.mail_to.empty())
      RunDelivery(run, "mail", job.mail_to, "files sent by MAIL to " + job.mail_to,
                  [&] { MailFiles(job, mail, query, formats, policy); });
    // A delivery option without a server in settings.ini fails here, in
    // the delivery, rather than being skipped.
    if (!job.http_url.empty() || job.wants_http) {
      const std::string url = delivery::UrlWithoutCredentials(job.http_url);
      RunDelivery(run, "http", url, "files sent by HTTP to " + url,
                  [&] { PostFilesOverHttp(job, run.settings.http_proxy, policy); });
    }
    if (!job.ftp_server.empty() || job.wants_ftp) {
      const std::string where =
          MaskSecrets(job.ftp_server, SecretText::kServer) + "(" + job.ftp_folder + ")";
      RunDelivery(run, "ftp",
                  delivery::UrlWithoutCredentials(job.ftp_server) + "(" + job.ftp_folder + ")",
                  "files sent by FTTP to " + where, [&] {
                    UploadFilesByFtp(job, run.settings.http_proxy, run.settings.ftp_tls, policy);
                  });
    }
    if (!job.sftp_server.empty() || job.wants_sftp) {
      const std::string where =
          MaskSecrets(job.sftp_server, SecretText::kServer) + "(" + job.sftp_folder + ")";
      RunDelivery(run, "sftp",
                  delivery::UrlWithoutCredentials(job.sftp_server) + "(" + job.sftp_folder + ")",
                  "files sent by SFTP to " + where,
                  [&] { UploadFilesBySftp(job, run.settings.sftp, policy); });
    }
    if (job.wants_s3) {
      const std::string where = "s3://" + run.settings.s3.bucket + "/" + job.s3_prefix;
      RunDelivery(run, "s3", where, "files sent by S3 to " + where, [&] {
        UploadFilesToS3(job, run.settings.s3, policy, run.outcome.deliveries.back().objects);
      });
    }
  }

  if (!job.per_record_sql.empty()) {
    query.First();
    run.record_query.SetSql(job.per_record_sql);
    ApplySqlMacros(run.record_query.sql(), job);
    for (; !query.Eof(); query.Next()) {
      BindJobParameters(run.record_query.params(), job, formats, &query);
      run.record_query.Execute();
    }
    run.messages.Add("Post-SQL query for records executed", kTagNote);
  }
}

void RunResultJob(JobResources& run) {
  Job& job = run.job;
  const FormatSettings& formats = run.settings.format;
  Query& query = run.query;

  query.SetSql(job.sql);
  CheckResultJobParameters(job, query, run.connection.dialect());
  const bool fields_from_sql = job.csv_fields.empty();
  ApplySqlMacros(query.sql(), job);
  BindJobParameters(query.params(), job, formats, nullptr);
  run.messages.Add("executing SQL", kTagNote);
  query.set_rewindable(NeedsSecondPass(job));
  query.Open();
  {
    CloseOnExit close_query(query, run.outcome);
    CheckResultNames(job, fields_from_sql, query, run.connection.dialect());
    if (query.RecordCount() == 0 && job.if_empty != IfEmpty::kDeliver) {
      if (job.if_empty != IfEmpty::kSkip) throw Exception("zero records returned");
      run.messages.Add(kNothingToWrite, kTagNote);
      run.outcome.note = kNothingToWrite;
    } else {
      if (query.RecordCount() == 0) {
        run.messages.Add(kDeliveredEmpty, kTagNote);
        run.outcome.note = kDeliveredEmpty;
      }
      WriteAndDeliver(run);
    }
  }
  RunGlobalPostSql(run);
}

}  // namespace

void MessageList::Add(const std::string& text, int tag) {
  lines_.push_back({WorkerLine(NowLocal(), tag, job_label_ + text, formats_), tag == kTagError});
}

int JobTimeLimit(const Job& job, const WorkerSettings& settings) {
  return job.job_timeout >= 0 ? job.job_timeout : settings.job_timeout;
}

bool NeedsSecondPass(const Job& job) {
  const int writers = int(!job.csv_path.empty()) +
                      int(!job.xml_path.empty() && job.xml_template.empty()) +
                      int(!job.json_path.empty());
  return writers > 1 || !job.per_record_sql.empty() ||
         (!job.mail_to.empty() && !job.report_template.empty());
}

namespace {

void RunJobSteps(JobResources& run) {
  std::string failure;
  bool failed = false;
  try {
    run.connection.set_connection_string(run.job.connection_string);
    run.connection.Open();
  } catch (const std::exception& e) {
    const std::string failure = run.stop.raised() ? StopMessage(run) : MessageOf(e);
    run.messages.Add(failure, kTagError);
    run.outcome.status = JobOutcome::Status::kFailed;
    run.outcome.error = failure;
    return;
  }

  try {
    run.connection.BeginTransaction(AccessOf(run));
    // The turn on the file may have come long after the run was ended.
    if (RunEnded(run)) throw Exception(kEndedEarly);
    if (IsResultJob(run.job)) {
      RunResultJob(run);
    } else {
      CheckScriptParameters(run.job, run.connection.dialect());
      run.messages.Add("executing SQL", kTagNote);
      RunSqlScript(run.query, run.job, run.settings.format, run.settings.console);
    }
    if (RunEnded(run)) throw Exception(kEndedEarly);
    run.connection.Commit();
  } catch (const std::exception& e) {
    failed = true;
    // A stopped job's statement, transfer or connection broke off because
    // it was stopped: the error says so, whatever the rollback adds.
    const bool stopped = run.stop.raised();
    failure = stopped ? StopMessage(run) + LeftBehind(e) : MessageOf(e);
    try {
      run.connection.Rollback();
    } catch (const std::exception& rollback_error) {
      if (!stopped) failure = MessageOf(rollback_error);
    }
  }

  try {
    run.connection.Close();
  } catch (const std::exception& e) {
    if (!failed) {
      failed = true;
      failure = MessageOf(e);
    }
  }
  if (failed) {
    run.messages.Add(failure, kTagError);
    run.outcome.status = JobOutcome::Status::kFailed;
    run.outcome.error = failure;
    return;
  }
  run.messages.Add("Done", kTagNote);
  run.outcome.status = JobOutcome::Status::kDone;
}

}  // namespace

void RunJob(JobResources& run) {
  run.messages.set_job(run.job);
  const auto start = std::chrono::steady_clock::now();
  RunJobSteps(run);
  // The descriptors the deliveries read go with the job.
  for (WrittenFile& file : run.job.written_digests) file.kept.reset();
  run.outcome.files = run.job.written_digests;
  run.outcome.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
}

}  // namespace ostrevane
