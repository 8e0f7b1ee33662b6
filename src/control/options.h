// Job options ("-udl:conn.udl", "-tocsv:out.csv", ...) applied to a job.
#pragma once

#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "control/job.h"
#include "control/names.h"
#include "settings/settings.h"

namespace ostrevane {

// What option parsing reads besides the token: the settings (-http, -ftp,
// -ftpdir copy server settings), the names table (-ds) and the program
// format settings with the joiner (the default format of -fields).
struct OptionContext {
  const Settings* settings = nullptr;
  const NamesTable* names = nullptr;
  FormatSettings format;
  std::string joiner = " ";
};

// Applies one option token ("-name" or "-name:value") to the job. Names
// are compared without regard to case; an empty token changes nothing, a
// token that names no option raises Exception("unknown option \"TOKEN\"").
// Raises the errors of the files it reads,
// EConvertError for a non-integer -csvcp, and the splitter's error for an
// unclosed quote before the first ":".
void ApplyOption(std::string_view token, Job& job, const OptionContext& ctx);

// Whether the token ("-name" or "-name:value") names a job option.
bool IsJobOption(std::string_view token);

// Sets the program's default formats (single-job mode and the first job of
// a list): date_pattern "YYYYMMDD", time_pattern "HHNNSSZZZ", csv_separator
// ";", csv_quote the double quote, csv_code_page 1, if_empty kError.
void SetDefaultFormats(Job& job);

}  // namespace ostrevane
