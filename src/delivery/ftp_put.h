// FTP delivery: every file of a job stored on one server, over one
// connection with one login.
#pragma once

#include <string>

#include "control/job.h"
#include "delivery/curl_easy.h"
#include "delivery/remote_staging.h"
#include "delivery/retry.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

// The security of an FTP connection, key TLS of section "FTP".
enum class FtpSecurity {
  kPlain = 0,     // no TLS
  kExplicit = 1,  // AUTH TLS required before the login; data connections protected too
  kImplicit = 2,  // TLS from the first byte, port 990 unless one is given
};
// The security for a TLS setting; throws Exception naming the key for a
// value other than 0, 1 or 2.
FtpSecurity FtpSecurityFor(int tls_setting);

// The server part of an FTP URL for `ftp_server`: "host" or "host:port" (an
// IPv6 address in brackets), optionally written with "ftp://" and a final
// "/"; the port is 21 when none is given (990 for implicit TLS, whose URL
// begins "ftps://"). Throws Exception for an empty host or a port that is
// not a number from 1 to 65535.
std::string FtpServerUrl(const std::string& server, FtpSecurity security = FtpSecurity::kPlain);

// The URL that stores `file_name` in `folder` (as given, one CWD; empty:
// the login folder).
std::string FtpFileUrl(const std::string& server_url, const std::string& folder,
                       const std::string& file_name);

// UploadFilesByFtp with other time-outs and CA file than the defaults, one
// try. Every file is stored under a temporary name and renamed once whole
// (delivery/remote_staging.h). Stores the files from progress->files_done
// on (all when null) and counts each one stored, so that a retry goes on
// where the last try stopped. Failures of the transfer are DeliveryErrors
// that say whether they are transient.
void PutFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                        FtpSecurity security = FtpSecurity::kPlain,
                        RemoteProgress* progress = nullptr);

// PutFilesWithLimits tried again on transient failures; limits.total_ms
// bounds all tries and waits together.
void PutFilesWithRetries(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                         FtpSecurity security, const RetryPolicy& policy);

}  // namespace ostrevane::delivery
