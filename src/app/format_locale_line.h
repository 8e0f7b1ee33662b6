// The line that tells which date and time formats a run uses: in the log
// after the banner, and first in the -check listing.
#pragma once

#include <string>

#include "common/format_locale.h"

namespace ostrevane {

// The locale, where it came from, the default date, time and date-time
// formats (date and time joined by `joiner`) and what the last writes, e.g.
//   Date and time formats of locale "de_DE.UTF-8" (format_locale in
//   /etc/ostrevane/settings.ini): date "dd/mm/yyyy", time "hh:nn:ss", date
//   and time "dd/mm/yyyy hh:nn:ss", which writes 2025-12-31 23:59:58 as
//   "31.12.2025 23:59:58"
std::string FormatLocaleLine(const FormatLocale& locale, const std::string& joiner);

}  // namespace ostrevane
