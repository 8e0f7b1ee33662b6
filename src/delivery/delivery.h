// Delivery of a job's files: by mail, by HTTP POST and by FTP. Each call is
// bounded as a whole by `timeout_seconds` (the delivery_timeout of
// settings.ini; 0 or less: no such bound), besides the connect and idle
// time-outs of its protocol, and fails with "Timed out: the delivery took
// longer than the delivery_timeout of N s" when that runs out.
#pragma once

#include "control/job.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

// Mails job.written_files (or, with job.report_template, an HTML report of the open
// query) to job.mail_to. Errors carry "Connection Error: ",
// "Authentication Error: " or "Sending Error: " before the client's text.
void MailFiles(const Job& job, const MailSettings& mail, Query& query, int timeout_seconds);
// One POST per file of job.written_files to job.http_url.
void PostFilesOverHttp(const Job& job, const ServerSettings& proxy, int timeout_seconds);
// Stores every file of job.written_files on job.ftp_server, in job.ftp_folder.
void UploadFilesByFtp(const Job& job, const ServerSettings& proxy, int timeout_seconds);

}  // namespace ostrevane
