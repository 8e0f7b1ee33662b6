// What a file the job wrote is, as a media type for the receiver: the
// Content-Type of an HTTP body and of a mail attachment.
#pragma once

#include <string>
#include <vector>

#include "control/job.h"

namespace ostrevane::delivery {

// "application/gzip" or "application/zstd" for every file of a job with
// -compress; "application/jsonl" for a file the JSON Lines writer wrote
// (UTF-8 by definition); "application/xml" for a file the XML writer wrote
// (it says its encoding in its declaration), else the job's CSV type: "text/csv; charset=utf-16"
// for UTF-16 output, else "text/csv; charset=" and the 8-bit code page's
// registered name where iconv's name is another ("windows-1252" for CP1252,
// "Shift_JIS" for CP932, "ISO-8859-15" for ISO_8859-15:1998); a name
// without a registered one is sent as written, "unknown-8bit" when it is
// no token.
// A file that cannot be read is taken as CSV: sending it fails with the
// reason.
std::string WrittenFileContentType(const Job& job, const std::string& path);

// The media type alone and its parameters, for a header that adds more
// parameters: {"text/csv", "charset=utf-16"}.
std::vector<std::string> WrittenFileTypeWords(const Job& job, const std::string& path);

}  // namespace ostrevane::delivery
