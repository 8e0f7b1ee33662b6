// Job options ("-udl:conn.udl", "-tocsv:out.csv", ...) applied to a record.
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
  TFormatSettings format;
  std::string joiner = " ";
};

void ParseOption(std::string_view token, tRec& rec, const OptionContext& ctx);

}  // namespace ostrevane
