// The date-time patterns translated from the C library's formats (and from
// a real locale) write, through the formatter, what the C library writes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "common/format_settings.h"
#include "common/strftime_pattern.h"
#include "testing/temp_dir.h"
#include "writers/datetime_format.h"

namespace ostrevane {
namespace {

// Every translated pattern writes what strftime writes for the same format
// (C locale names; a day of two digits, since %e pads with a space).
TEST(StrftimePatternTest, PatternsWriteWhatStrftimeWrites) {
  const char* strftime_formats[] = {"%d.%m.%Y",
                                    "%m/%d/%y",
                                    "%Y-%m-%d %H:%M:%S",
                                    "%I:%M:%S %p",
                                    "%r",
                                    "%a %d %b %Y",
                                    "%A, %B %d, %Y",
                                    "%Hh%M",
                                    "%D",
                                    "%F %T",
                                    "it's %d",
                                    "say \"%d\" at %R",
                                    "%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5"};
  struct tm tm = {};
  tm.tm_year = 2015 - 1900;
  tm.tm_mon = 9;
  tm.tm_mday = 18;
  tm.tm_hour = 14;
  tm.tm_min = 3;
  tm.tm_sec = 5;
  tm.tm_wday = 0;
  const DateTime value = EncodeDateTime(2015, 10, 18, 14, 3, 5);
  for (const char* fmt : strftime_formats) {
    char buf[200];
    std::strftime(buf, sizeof buf, fmt, &tm);
    FormatSettings formats = DefaultFormatSettings();
    formats.date_separator = StrftimeSeparator(fmt, '-');
    formats.time_separator = ':';
    const std::string pattern =
        StrftimeToPattern(fmt, formats.date_separator, formats.time_separator);
    EXPECT_EQ(FormatDateTime(pattern, formats, value), buf) << fmt << " -> " << pattern;
  }
}

// A real locale, compiled from the system's locale sources into a temporary
// folder: its date and time formats come out in the pattern language.
TEST(LocaleFormatSettingsTest, ProcessLocaleFormatsAndNames) {
  testing::TempDir dir;
  struct {
    const char* name;
    const char* short_date;
    const char* default_text;  // 2015-10-08 14:03:05 by ShortDateFormat + " " + ShortTimeFormat
    const char* october;
    const char* long_date;  // 2015-10-08 by LongDateFormat
  } cases[] = {
      {"de_DE", "dd/mm/yyyy", "08.10.2015 14:03:05", "Oktober", "Donnerstag 08 Oktober 2015"},
      {"en_US", "mm/dd/yyyy", "10/08/2015 02:03:05 PM", "October", "Thursday 08 October 2015"},
      // Text after the last field of the date: the long date keeps its closing character.
      {"ja_JP",
       "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88"
       "dd\xE6\x97\xA5",
       "2015\xE5\xB9\xB4"
       "10\xE6\x9C\x88"
       "08\xE6\x97\xA5 14\xE6\x99\x82"
       "03\xE5\x88\x86"
       "05\xE7\xA7\x92",
       "10\xE6\x9C\x88",
       "2015\xE5\xB9\xB4"
       "10\xE6\x9C\x88"
       "08\xE6\x97\xA5"},
  };
  // Puts the locale and LOCPATH back however the test ends.
  struct Restore {
    std::string locale = std::setlocale(LC_ALL, nullptr);
    const char* had = std::getenv("LOCPATH");
    std::string locpath = had ? had : "";
    ~Restore() {
      std::setlocale(LC_ALL, locale.c_str());
      if (had)
        ::setenv("LOCPATH", locpath.c_str(), 1);
      else
        ::unsetenv("LOCPATH");
    }
  } restore;
  std::string skipped;
  for (const auto& c : cases) {
    const std::string cmd = std::string("localedef -i ") + c.name + " -f UTF-8 " + dir.path() +
                            "/" + c.name + ".UTF-8 >/dev/null 2>&1";
    // A missing locale source skips its case, not the others.
    if (std::system(cmd.c_str()) != 0) {
      skipped += std::string(" ") + c.name;
      continue;
    }
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    if (!std::setlocale(LC_ALL, (std::string(c.name) + ".UTF-8").c_str())) {
      skipped += std::string(" ") + c.name;
      continue;
    }
    const FormatSettings formats = LocaleFormatSettings();
    std::setlocale(LC_ALL, restore.locale.c_str());
    EXPECT_EQ(formats.short_date_format, c.short_date) << c.name;
    EXPECT_EQ(FormatDateTime(DefaultDateTimeFormat(formats), formats,
                             EncodeDateTime(2015, 10, 8, 14, 3, 5)),
              c.default_text)
        << c.name;
    EXPECT_EQ(formats.long_month_names[9], c.october) << c.name;
    EXPECT_EQ(FormatDateTime(formats.long_date_format, formats, EncodeDateTime(2015, 10, 8)),
              c.long_date)
        << c.name;
    EXPECT_EQ(formats.decimal_separator, '.') << c.name;
  }
  if (!skipped.empty()) GTEST_SKIP() << "localedef cannot build or load:" << skipped;
}

}  // namespace
}  // namespace ostrevane
