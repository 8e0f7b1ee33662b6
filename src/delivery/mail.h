// Mail delivery: one message per job through an SMTP server, carrying the
// job's files as attachments or, with a report template, an HTML body.
#pragma once

#include <curl/curl.h>

#include <string>

#include "common/format_settings.h"
#include "control/job.h"
#include "delivery/curl_easy.h"
#include "delivery/retry.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

namespace delivery {

// Where and how a mail connection goes for the TLS setting: "smtp://" or
// "smtps://" (TLS 1), host, port (low 16 bits of the setting, moved from 25
// to 465 for TLS 1 and from 465 to 25 for TLS 2 and 3; 0 leaves the
// scheme's default), and `ehlo_name` as the name given in EHLO.
struct MailEndpoint {
  std::string url;
  std::string server;                     // "host:port" as connected to, for messages
  curl_usessl use_ssl = CURLUSESSL_NONE;  // STARTTLS: ALL for TLS 2, TRY for TLS 3
};
MailEndpoint MailEndpointFor(const MailSettings& mail, const std::string& ehlo_name);

// MailFiles with other time-outs and CA file than the fixed ones, one try.
// Failures of the transfer are DeliveryErrors: transient for a 4xx reply, a
// broken connection or a time-out.
void SendMailWithLimits(const Job& job, const MailSettings& mail, Query& query,
                        const FormatSettings& formats, const TransferLimits& limits);

// SendMailWithLimits tried again on transient failures; limits.total_ms
// bounds all tries and waits together.
void SendMailWithRetries(const Job& job, const MailSettings& mail, Query& query,
                         const FormatSettings& formats, const TransferLimits& limits,
                         const RetryPolicy& policy);

}  // namespace delivery
}  // namespace ostrevane
