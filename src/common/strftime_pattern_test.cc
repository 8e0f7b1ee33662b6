#include "common/strftime_pattern.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "common/format_settings.h"
#include "testing/temp_dir.h"
#include "writers/datetime_format.h"

namespace ostrevane {
namespace {

TEST(StrftimePatternTest, Translations) {
  struct {
    const char* fmt;
    char date_sep, time_sep;
    const char* pattern;
  } cases[] = {
      {"%d.%m.%Y", '.', ':', "dd/mm/yyyy"},
      {"%m/%d/%y", '/', ':', "mm/dd/yy"},
      {"%H:%M:%S", '-', ':', "hh:nn:ss"},
      {"%I:%M:%S %p", '-', ':', "hh:nn:ss AMPM"},
      {"%r", '-', ':', "hh:nn:ss AMPM"},
      {"%-d/%-m/%Y %-H", '/', ':', "d/m/yyyy h"},
      {"%e %b %Ey %OH %k", '-', ':', "d mmm yy hh h"},
      {"%Hh%M", '-', ':', "hh\"h\"nn"},
      {"it's \"%d\" 100%%%n", '-', ':', "\"it's\" '\"'dd'\"' 100% "},
      {"%Z %z %j %U %s", '-', ':', "    "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StrftimeToPattern(c.fmt, c.date_sep, c.time_sep), c.pattern) << c.fmt;
  EXPECT_EQ(StrftimeSeparator("%d.%m.%Y", '-'), '.');
  EXPECT_EQ(StrftimeSeparator("%Y\xE5\xB9\xB4%m", '-'), '-');
  EXPECT_EQ(StrftimeLongDatePattern("%a %d %b %Y %r %Z", '-', ':'), "dddd dd mmmm yyyy");
  EXPECT_EQ(StrftimeLongDatePattern("%H:%M", '-', ':'), "");
}

// Every translated pattern writes what strftime writes for the same format
// (C locale names; a day of two digits, since %e pads with a space).
TEST(StrftimePatternTest, PatternsWriteWhatStrftimeWrites) {
  const char* formats[] = {"%d.%m.%Y", "%m/%d/%y",     "%Y-%m-%d %H:%M:%S", "%I:%M:%S %p",
                           "%r",       "%a %d %b %Y",  "%A, %B %d, %Y",     "%Hh%M",
                           "%D",       "%F %T",        "it's %d",           "say \"%d\" at %R",
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
  for (const char* fmt : formats) {
    char buf[200];
    std::strftime(buf, sizeof buf, fmt, &tm);
    TFormatSettings fs = DefaultFormatSettings();
    fs.DateSeparator = StrftimeSeparator(fmt, '-');
    fs.TimeSeparator = ':';
    const std::string pattern = StrftimeToPattern(fmt, fs.DateSeparator, fs.TimeSeparator);
    EXPECT_EQ(FormatDateTimeText(pattern, fs, value), buf) << fmt << " -> " << pattern;
  }
}

TEST(LocaleFormatSettingsTest, CLocaleGivesTheDefaults) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    if (!std::setlocale(LC_ALL, name)) continue;
    const TFormatSettings fs = LocaleFormatSettings();
    const TFormatSettings d = DefaultFormatSettings();
    EXPECT_EQ(fs.ShortDateFormat, "yyyy-mm-dd") << name;
    EXPECT_EQ(fs.LongDateFormat, "dddd, mmmm d, yyyy") << name;
    EXPECT_EQ(fs.ShortTimeFormat, "hh:nn:ss") << name;
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss") << name;
    EXPECT_EQ(fs.DecimalSeparator, '.') << name;
    EXPECT_EQ(fs.DateSeparator, d.DateSeparator) << name;
    EXPECT_EQ(fs.TimeSeparator, d.TimeSeparator) << name;
    EXPECT_EQ(fs.TimeAMString, "AM") << name;
    EXPECT_EQ(fs.LongMonthNames, d.LongMonthNames) << name;
    EXPECT_EQ(fs.ShortDayNames, d.ShortDayNames) << name;
  }
  std::setlocale(LC_ALL, saved.c_str());
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
  } cases[] = {
      {"de_DE", "dd/mm/yyyy", "08.10.2015 14:03:05", "Oktober"},
      {"en_US", "mm/dd/yyyy", "10/08/2015 02:03:05 PM", "October"},
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
  for (const auto& c : cases) {
    const std::string cmd = std::string("localedef -i ") + c.name + " -f UTF-8 " + dir.path() + "/" +
                            c.name + ".UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build " << c.name;
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    if (!std::setlocale(LC_ALL, (std::string(c.name) + ".UTF-8").c_str()))
      GTEST_SKIP() << "the built locale does not load";
    const TFormatSettings fs = LocaleFormatSettings();
    std::setlocale(LC_ALL, restore.locale.c_str());
    EXPECT_EQ(fs.ShortDateFormat, c.short_date) << c.name;
    EXPECT_EQ(FormatDateTimeText(DefaultDateTimeFormat(fs), fs, EncodeDateTime(2015, 10, 8, 14, 3, 5)),
              c.default_text)
        << c.name;
    EXPECT_EQ(fs.LongMonthNames[9], c.october) << c.name;
    EXPECT_EQ(fs.DecimalSeparator, '.') << c.name;
  }
}

}  // namespace
}  // namespace ostrevane
