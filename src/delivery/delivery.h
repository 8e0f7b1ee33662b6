// Delivery of a job's files: by mail, by HTTP POST and by FTP.
#pragma once

#include "control/job.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

// Mails job.written_files (or, with job.report_template, an HTML report of the open
// query) to job.mail_to. Errors carry "Connection Error: ",
// "Authentication Error: " or "Sending Error: " before the client's text.
void MailFiles(const Job& job, const MailSettings& mail, Query& query);
// One POST per file of job.written_files to job.http_url.
void PostFilesOverHttp(const Job& job, const ServerSettings& proxy);
// Stores every file of job.written_files on job.ftp_server, in job.ftp_folder.
void UploadFilesByFtp(const Job& job, const ServerSettings& proxy);

}  // namespace ostrevane
