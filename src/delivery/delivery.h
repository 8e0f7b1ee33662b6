// Delivery of a job's files: by mail, by HTTP POST, by FTP, by SFTP and to
// S3-compatible object storage.
// Each call is bounded as a whole by the policy's `timeout_seconds` (the
// delivery_timeout of settings.ini; 0 or less: no such bound), tries and
// waits between them included, besides the connect and idle time-outs of
// its protocol, and fails with "Timed out: the delivery took longer than
// the delivery_timeout of N s" when that runs out. A transient failure is
// tried again as the policy's retry part says (delivery/retry.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/format_settings.h"
#include "control/job.h"
#include "delivery/retry.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

struct DeliveryPolicy {
  int timeout_seconds = 0;
  delivery::RetryPolicy retry;
};

// An object that the S3 delivery stored.
struct StoredObject {
  std::string bucket;
  std::string key;
  std::string etag;  // as the server gave it, without its quotes
};

// Mails job.written_files (or, with job.report_template, an HTML report of the open
// query, its values in the run's `formats`) to job.mail_to, with mail.subject
// as its subject and job.mail_body, when -mailbody gave one, as its text
// before the attachments. Errors carry "Connection Error: ",
// "Authentication Error: " or "Sending Error: " before the client's text.
void MailFiles(const Job& job, const MailSettings& mail, Query& query,
               const FormatSettings& formats, const DeliveryPolicy& policy);
// The subject of the job's mail: its -subject with "?LINE" (the job's list
// line number), "?DATE", "?TIME", "?GUID" (as in its file names) and the
// field macros of the query's current record (none when the query is at
// its end) expanded, cut like a quoted value when a value makes it long;
// `settings_subject` when the job gives none.
std::string MailSubject(const Job& job, const Query& query, const FormatSettings& formats,
                        const std::string& settings_subject);
// One POST per file of job.written_files to job.http_url. A retry posts
// only the files that were not accepted yet.
void PostFilesOverHttp(const Job& job, const ServerSettings& proxy, const DeliveryPolicy& policy);
// Stores every file of job.written_files on job.ftp_server, in job.ftp_folder,
// with the security of `tls_setting` (key TLS of section FTP: 0, 1 or 2).
void UploadFilesByFtp(const Job& job, const ServerSettings& proxy, int tls_setting,
                      const DeliveryPolicy& policy);
// Stores every file of job.written_files on job.sftp_server, in
// job.sftp_folder, checking the server's host key (delivery/sftp_put.h).
void UploadFilesBySftp(const Job& job, const SftpSettings& sftp, const DeliveryPolicy& policy);
// Stores every file of job.written_files as an object of the bucket of `s3`,
// under job.s3_prefix (delivery/s3_put.h), and appends each object stored
// to `stored`, also when a later one fails.
void UploadFilesToS3(const Job& job, const S3Settings& s3, const DeliveryPolicy& policy,
                     std::vector<StoredObject>& stored);

}  // namespace ostrevane
