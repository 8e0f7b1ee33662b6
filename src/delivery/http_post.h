// HTTP delivery: every file of a job POSTed to one URL.
#pragma once

#include "control/job.h"
#include "delivery/curl_easy.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

// The time-outs of HTTP and FTP delivery: a minute to connect and a minute
// of silence at most, so that a stalled server cannot hold a job forever.
TransferLimits DefaultTransferLimits();

// PostFilesOverHttp with other time-outs and CA file than the defaults.
// Errors name the URL, without any login and password written into it.
void PostFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits);

// The URL with a "login:password@" before its host taken out.
std::string UrlWithoutCredentials(const std::string& url);

}  // namespace ostrevane::delivery
