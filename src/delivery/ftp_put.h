// FTP delivery: every file of a job stored on one server, over one
// connection with one login.
#pragma once

#include <string>

#include "control/job.h"
#include "delivery/curl_easy.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

// The server part of an FTP URL for `ftp_server`: "host" or "host:port" (an
// IPv6 address in brackets), optionally written with "ftp://" and a final
// "/"; the port is 21 when none is given. Throws Exception for an empty
// host or a port that is not a number from 1 to 65535.
std::string FtpServerUrl(const std::string& server);

// The URL that stores `file_name` in `folder` (as given, one CWD; empty:
// the login folder).
std::string FtpFileUrl(const std::string& server_url, const std::string& folder,
                       const std::string& file_name);

// UploadFilesByFtp with other time-outs and CA file than the defaults.
void PutFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits);

}  // namespace ostrevane::delivery
