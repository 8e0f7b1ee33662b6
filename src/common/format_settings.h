// Date, time and number format settings: the user's regional settings as a
// record. Workers get their own copy; it is read-only while jobs run.
#pragma once

#include <array>
#include <string>

namespace ostrevane {

struct FormatSettings {
  char decimal_separator = '.';
  char date_separator = '-';  // '\0' means none
  char time_separator = ':';  // '\0' means none
  std::string short_date_format = "yyyy-mm-dd";
  std::string long_date_format = "dddd, mmmm d, yyyy";
  std::string short_time_format = "hh:nn:ss";
  std::string long_time_format = "hh:nn:ss";
  std::string am_text = "AM";
  std::string pm_text = "PM";
  std::array<std::string, 12> short_month_names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> long_month_names{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
  std::array<std::string, 7> short_day_names{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> long_day_names{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

// The settings of the C/POSIX locale (the member defaults above).
FormatSettings DefaultFormatSettings();

// The settings of the process locale (setlocale(LC_ALL, "") must have run):
// LC_TIME read with nl_langinfo, in the code set of the LC_TIME locale
// whatever the character type is, and turned into the date-time pattern
// language; the decimal separator is always ".". Under the C/POSIX locale
// this equals DefaultFormatSettings().
FormatSettings LocaleFormatSettings();

// Whether this machine has the locale `name` ("C.UTF-8", "de_DE.UTF-8").
bool LocaleIsInstalled(const std::string& name);

// The settings of the locale `name`, whatever the process locale is; false
// (and `formats` unchanged) when this machine has no such locale. A C or
// POSIX locale gives DefaultFormatSettings().
bool NamedLocaleFormatSettings(const std::string& name, FormatSettings& formats);

// The default date-time format: ShortDateFormat + joiner + ShortTimeFormat.
std::string DefaultDateTimeFormat(const FormatSettings& formats, const std::string& joiner = " ");

}  // namespace ostrevane
