#include "writers/datetime_format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ostrevane {
namespace {

// 2015-10-08 (a Thursday) 14:03:05.045
const DateTime kValue = EncodeDateTime(2015, 10, 8, 14, 3, 5, 45);

TEST(FormatDateTimeTextTest, PatternLanguage) {
  const FormatSettings formats = DefaultFormatSettings();
  struct {
    const char* pattern;
    const char* expected;
  } cases[] = {
      {"YYYY-MM-DD", "2015-10-08"},
      {"HH:NN:SS", "14:03:05"},
      {"HHNNSSZZZ", "140305045"},
      {"h:mm AM/PM", "2:03 PM"},
      {"dddd", "Thursday"},
      {"ddd, d mmm", "Thu, 8 Oct"},
      {"!d!d", "dd"},
      {"yyyy 'at' hh", "2015 at 14"},
      // runs and counts
      {"y|yy|yyy|yyyy|yyyyy", "15|15|2015|2015|2015"},
      {"m|mm|mmm|mmmm|mmmmm", "10|10|Oct|October|October"},
      {"d|dd|ddd|dddd", "8|08|Thu|Thursday"},
      {"ddddd", "2015-10-08"},
      {"dddddd", "Thursday, October 8, 2015"},
      {"z|zz|zzz|zzzz", "45|45|045|045"},
      {"h|hh|hhh|n|nnn|s|sss", "14|14|14|3|03|5|05"},
      {"yY", "1515"},  // case-sensitive runs: two runs of one
      // "m" after "h" is minutes; any letter between makes it a month again
      {"hh:mm", "14:03"},
      {"Hmm", "1403"},
      {"hh' 'mm", "14 03"},
      {"dd/mm", "08-10"},
      {"hhxmm", "14x10"},
      {"mm:hh:mm", "10:14:03"},
      {"h n m", "14 3 10"},
      {"h am/pm m", "2 pm 10"},  // the a of am/pm is a letter between
      {"h 'Uhr' mm", "14 Uhr 03"},  // letters in quotes and after "!" do not count
      {"hh!xmm", "14x03"},
      // AM/PM family and the 12-hour scan
      {"hh AM/PM", "02 PM"},
      {"hh 'AM/PM'", "14 AM/PM"},
      {"hh \"x\" am/pm", "02 x pm"},
      {"am/pm hh", "pm 02"},
      {"hh a/p", "02 p"},
      {"hh A/P", "02 P"},
      {"hh ampm", "02 PM"},
      {"hh h ampm", "14 2 PM"},  // the scan of the first run stops at the next h
      {"aaaa|aaa|aa|a", "Thursday|Thu|aa|a"},
      {"AAAA", "Thursday"},
      // settings patterns and their nesting
      {"t", "14:03:05"},
      {"tt", "14:03:05"},
      {"c", "2015-10-08 14:03:05"},
      {"", "2015-10-08 14:03:05"},
      {"g gg e ee", "   "},
      // quotes and the escape
      {"'unclosed yyyy", "unclosed yyyy"},
      {"\"d'd\"", "d'd"},
      {"ab!", "ab"},
      {"!!", "!"},
      // characters outside ASCII are copied; one outside the basic plane
      // resets the last letter
      {"yyyy\xE5\xB9\xB4mm", "2015\xE5\xB9\xB4" "10"},
      {"hh\xE2\x82\xAC" "mm", "14\xE2\x82\xAC" "03"},
      {"hh\xF0\x9F\x98\x80mm", "14\xF0\x9F\x98\x80" "10"},
      {"!\xE2\x82\xAC" "d", "\xE2\x82\xAC" "8"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, formats, kValue), c.expected) << c.pattern;
}

TEST(FormatDateTimeTextTest, EscapeOffCopiesTheMark) {
  const FormatSettings formats = DefaultFormatSettings();
  EXPECT_EQ(FormatDateTime("!d!d", formats, kValue, false), "!8!8");
  EXPECT_EQ(FormatDateTime("dd!", formats, kValue, false), "08!");
}

TEST(FormatDateTimeTextTest, SettingsDecideSeparatorsNamesAndNesting) {
  FormatSettings formats = DefaultFormatSettings();
  formats.date_separator = '.';
  formats.time_separator = '\0';
  formats.am_text = "vorm.";
  formats.pm_text = "nachm.";
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", formats, kValue), "2015.10.08 1403");
  EXPECT_EQ(FormatDateTime("h ampm", formats, kValue), "2 nachm.");

  // A settings pattern reached from a level-2 pattern adds nothing; the
  // space before the time still comes.
  formats = DefaultFormatSettings();
  formats.short_date_format = "c";
  EXPECT_EQ(FormatDateTime("c", formats, kValue), "  14:03:05");
  formats.short_date_format = "ddddd|";
  EXPECT_EQ(FormatDateTime("ddddd", formats, kValue), "|");
}

TEST(FormatDateTimeTextTest, ClockEdges) {
  const FormatSettings formats = DefaultFormatSettings();
  struct {
    DateTime value;
    const char* pattern;
    const char* expected;
  } cases[] = {
      {EncodeDateTime(2015, 10, 8), "", "2015-10-08"},  // midnight: date only
      {EncodeDateTime(2015, 10, 8, 0, 5), "h:nn am/pm", "12:05 am"},
      {EncodeDateTime(2015, 10, 8, 12, 5), "h:nn am/pm", "12:05 pm"},
      {EncodeDateTime(2015, 10, 8, 23, 5), "h:nn A/P", "11:05 P"},
      // the time rounds to the millisecond and carries into the next day
      {EncodeDateTime(2015, 12, 31) + (86400 - 0.0004) / 86400, "yyyy-mm-dd hh:nn:ss.zzz",
       "2016-01-01 00:00:00.000"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, formats, c.value), c.expected) << c.pattern;
}

TEST(FormatDateTimeTextTest, DatesOutsideTheUsualRange) {
  const FormatSettings formats = DefaultFormatSettings();
  const char* p = "yyyy-mm-dd hh:nn|yy";
  EXPECT_EQ(FormatDateTime(p, formats, EncodeDateTime(1, 1, 1)), "0001-01-01 00:00|01");
  EXPECT_EQ(FormatDateTime(p, formats, EncodeDateTime(1850, 3, 1, 6)), "1850-03-01 06:00|50");
  EXPECT_EQ(FormatDateTime(p, formats, EncodeDateTime(12345, 6, 7)), "12345-06-07 00:00|45");
  EXPECT_EQ(FormatDateTime(p, formats, EncodeDateTime(-5, 1, 1)), "-0005-01-01 00:00|95");
  // Negative values: the whole part is the day, the fraction the time.
  EXPECT_EQ(FormatDateTime(p, formats, -1.25), "1899-12-29 06:00|99");
  // Values no calendar holds decode as the epoch instead of overflowing.
  for (double v : {double(NAN), double(INFINITY), -double(INFINITY), 1e300, -1e20})
    EXPECT_EQ(FormatDateTime(p, formats, v), "1899-12-30 00:00|99") << v;
}

TEST(FormatDateTimeTextTest, LongPatterns) {
  const FormatSettings formats = DefaultFormatSettings();
  EXPECT_EQ(FormatDateTime(std::string(10000, 'y'), formats, kValue), "2015");
  EXPECT_EQ(FormatDateTime(std::string(10000, 'd'), formats, kValue), "Thursday, October 8, 2015");
  EXPECT_EQ(FormatDateTime(std::string(10000, '\''), formats, kValue), "");
  EXPECT_EQ(FormatDateTime(std::string(9999, '!'), formats, kValue), std::string(4999, '!'));
  std::string many;
  for (int i = 0; i < 2500; ++i) many += "hh:a";
  std::string expected;
  for (int i = 0; i < 2500; ++i) expected += "14:a";
  EXPECT_EQ(FormatDateTime(many, formats, kValue), expected);
  const std::string literal(10000, 'x');
  EXPECT_EQ(FormatDateTime(literal, formats, kValue), literal);
}

// A prepared pattern writes exactly what the interpreter writes, whether it
// runs as steps or falls back.
TEST(DateTimePatternTest, PreparedPatternsMatchTheInterpreter) {
  FormatSettings formats = DefaultFormatSettings();
  formats.date_separator = '.';
  formats.time_separator = '\0';
  struct {
    const char* pattern;
    bool prepared;
  } cases[] = {
      {"yyyy-mm-dd hh:nn:ss", true}, {"YYYYMMDD", true}, {"HHNNSSZZZ", true},
      {"y/m/d h:n:s.z", true}, {"hh:mm mm", true}, {"dd.mm.yy 'at' hh\"h\"", false},
      {"!d!d !y", true}, {"zzzz hhmm xmm", true}, {"yyyy-mm-dd'T'hh:nn:ss", true},
      {"\xC3\xA9 \xF0\x9F\x98\x80mm", true}, {"'unclosed y", true}, {"", false},
      {"c", false}, {"t", false}, {"ddd dd", false}, {"mmm", false}, {"h:mm AM/PM", false},
      {"hh a/p", false}, {"ddddd", false}, {"gg ee", false}, {"!", true},
  };
  const DateTime values[] = {0, 42285.5854745949, -693593.75, 2958465.99999, 1.0 / 3, NAN};
  for (const auto& c : cases) {
    for (bool escape : {true, false}) {
      DateTimePattern prepared(c.pattern, formats, escape);
      EXPECT_EQ(prepared.prepared(), c.prepared) << c.pattern;
      for (DateTime v : values) {
        std::string out = "x";
        prepared.Append(out, v);
        EXPECT_EQ(out, "x" + FormatDateTime(c.pattern, formats, v, escape))
            << c.pattern << " " << v;
      }
    }
  }
}

}  // namespace
}  // namespace ostrevane
