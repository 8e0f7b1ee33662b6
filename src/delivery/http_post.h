// HTTP delivery: every file of a job POSTed to one URL.
#pragma once

#include "control/job.h"
#include "delivery/curl_easy.h"
#include "delivery/retry.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

// The time-outs of HTTP and FTP delivery: a minute to connect and a minute
// of silence at most, so that a stalled server cannot hold a job forever.
TransferLimits DefaultTransferLimits();

// PostFilesOverHttp with other time-outs and CA file than the defaults, one
// try. Errors name the URL, without any login and password written into
// it. Posts the files from number `files_done` on (0 when null) and counts
// each one the server accepted. Failures of the transfer are DeliveryErrors:
// transient for a broken connection, a time-out, 408, 429 and 5xx.
void PostFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                         size_t* files_done = nullptr);

// PostFilesWithLimits tried again on transient failures, each file posted
// once; limits.total_ms bounds all tries and waits together.
void PostFilesWithRetries(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                          const RetryPolicy& policy);

// The URL with a "login:password@" before its host taken out.
std::string UrlWithoutCredentials(const std::string& url);

}  // namespace ostrevane::delivery
