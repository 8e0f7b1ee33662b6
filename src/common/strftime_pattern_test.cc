#include "common/strftime_pattern.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "common/format_settings.h"

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
  struct {
    const char* d_t_fmt;
    const char* long_date;
  } long_dates[] = {
      {"%a %d %b %Y %r %Z", "dddd dd mmmm yyyy"},
      {"%H:%M", ""},
      // The text closing the date stays; what leads to the time goes.
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5 %H\xE6\x99\x82%M",
       "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88"
       "dd\xE6\x97\xA5"},
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5",
       "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88"
       "dd\xE6\x97\xA5"},
      {"%a, %d %b %Y, %H:%M", "dddd, dd mmmm yyyy"},
      {"%d.%m.%Y %H:%M", "dd/mm/yyyy"},
      {"%d %B %Yh %H:%M", "dd mmmm yyyy\"h\""},
  };
  for (const auto& c : long_dates)
    EXPECT_EQ(StrftimeLongDatePattern(c.d_t_fmt, '.', ':'), c.long_date) << c.d_t_fmt;
}

TEST(LocaleFormatSettingsTest, CLocaleGivesTheDefaults) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    if (!std::setlocale(LC_ALL, name)) continue;
    const FormatSettings formats = LocaleFormatSettings();
    const FormatSettings d = DefaultFormatSettings();
    EXPECT_EQ(formats.short_date_format, "yyyy-mm-dd") << name;
    EXPECT_EQ(formats.long_date_format, "dddd, mmmm d, yyyy") << name;
    EXPECT_EQ(formats.short_time_format, "hh:nn:ss") << name;
    EXPECT_EQ(formats.long_time_format, "hh:nn:ss") << name;
    EXPECT_EQ(formats.decimal_separator, '.') << name;
    EXPECT_EQ(formats.date_separator, d.date_separator) << name;
    EXPECT_EQ(formats.time_separator, d.time_separator) << name;
    EXPECT_EQ(formats.am_text, "AM") << name;
    EXPECT_EQ(formats.long_month_names, d.long_month_names) << name;
    EXPECT_EQ(formats.short_day_names, d.short_day_names) << name;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace ostrevane
