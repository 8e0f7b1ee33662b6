// Date, time and number format settings: the user's regional settings as a
// record. Workers get their own copy; it is read-only while jobs run.
#pragma once

#include <array>
#include <string>

namespace ostrevane {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '-';  // '\0' means none
  char TimeSeparator = ':';  // '\0' means none
  std::string ShortDateFormat = "yyyy-mm-dd";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "hh:nn:ss";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",
                                              "May",     "June",     "July",      "August",
                                              "September", "October", "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
};

// The settings of the C/POSIX locale (the member defaults above).
TFormatSettings DefaultFormatSettings();

// The settings of the process locale (setlocale(LC_ALL, "") must have run):
// LC_TIME read with nl_langinfo and turned into the date-time pattern
// language; the decimal separator is always ".". Under the C/POSIX locale
// this equals DefaultFormatSettings().
TFormatSettings LocaleFormatSettings();

// The default date-time format: ShortDateFormat + joiner + ShortTimeFormat.
std::string DefaultDateTimeFormat(const TFormatSettings& fs, const std::string& joiner = " ");

}  // namespace ostrevane
