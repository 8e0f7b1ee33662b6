// Delivery of a job's files: by mail, by HTTP POST and by FTP.
#pragma once

#include "control/job.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

// Mails job.attach (or, with job.frtemplate, an HTML report of the open
// query) to job.mailto. Errors carry "Connection Error: ",
// "Authentication Error: " or "Sending Error: " before the client's text.
void SendMail(const tRec& job, const tMailSettings& mail, Query& query);
// One POST per file of job.attach to job.httpto.
void PostFiles(const tRec& job, const tPSettings& proxy);
// Stores every file of job.attach on job.ftpto, in job.ftpdir.
void PutFiles(const tRec& job, const tPSettings& proxy);

}  // namespace ostrevane
