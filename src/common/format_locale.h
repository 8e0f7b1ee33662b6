// The locale whose date and time formats a run uses, and why that one: the
// same list must write the same bytes under cron (C locale) and in a shell
// (en_US.UTF-8, de_DE.UTF-8, ...), so a run says which formats are in
// force and settings.ini can pin them (format_locale).
#pragma once

#include <string>

#include "common/format_settings.h"

namespace ostrevane {

struct FormatLocale {
  FormatSettings formats;
  std::string name;    // "de_DE.UTF-8", "C"
  std::string origin;  // how it was chosen, for the log and -check
};

// The locale `pinned` (the format_locale of `settings_path`) when given,
// else the process locale that setlocale(LC_ALL, "") made from LC_ALL,
// LC_TIME and LANG. Throws Exception when the machine has no locale
// `pinned`.
FormatLocale ChooseFormatLocale(const std::string& pinned, const std::string& settings_path);

}  // namespace ostrevane
