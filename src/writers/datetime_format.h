// Date-time values as text, by the program's date-time pattern language
// ("yyyy-mm-dd hh:nn:ss", "h:mm AM/PM", "dddd", "c", ...). The one formatter
// serves both the cell texts of date-time values (with the "!" escape) and
// the "?DATE"/"?TIME" macros of name templates (escape off).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/datetime.h"
#include "common/format_settings.h"

namespace ostrevane {

// The text of `value` by `pattern` (an empty pattern means "c"). With
// `escape`, "!" makes the next character literal; without it "!" is copied.
// Never fails: every pattern character gives some output or none.
std::string FormatDateTime(std::string_view pattern, const FormatSettings& formats, DateTime value,
                           bool escape = true);

// The same, appended to `out` (no allocation besides the growth of `out`).
void AppendDateTimeText(std::string& out, std::string_view pattern, const FormatSettings& formats,
                        DateTime value, bool escape = true);

// A pattern prepared once for many values (a CSV column). Patterns made
// only of numeric parts (years, months, days, hours, minutes, seconds,
// milliseconds), separators, quotes and other literals run as a short list
// of steps; any other pattern (names, "c", "t", AM/PM, ...) is interpreted
// as AppendDateTimeText does. Either way the text is the same.
class DateTimePattern {
 public:
  DateTimePattern(std::string pattern, const FormatSettings& formats, bool escape = true);
  void Append(std::string& out, DateTime value) const;
  const std::string& text() const { return pattern_; }
  bool prepared() const { return prepared_; }

 private:
  enum class Part : uint8_t { kLiteral, kYear2, kYear4, kMonth, kDay, kHour, kMinute, kSecond, kMilli };
  struct Step {
    Part part;
    int digits;           // at least this many digits
    std::string literal;  // kLiteral only
  };
  bool Prepare(const FormatSettings& formats);

  std::string pattern_;
  const FormatSettings& formats_;
  bool escape_;
  bool prepared_ = false;
  std::vector<Step> steps_;
};

// The date-time decoding used by the writers: DecodeDateTime for values it
// can represent; values outside +-1e11 days decode like non-finite values
// (the epoch 1899-12-30 00:00), so no value can overflow the calendar.
DateTimeParts DecodeForText(DateTime value);

// The ISO 8601 text of a date-time (DecodeForText), "2015-10-08T14:03:05";
// kDate gives the date alone, kTime the time alone. With `millis`, the
// milliseconds follow the seconds (".123") when they are not 0. Years
// outside 0..9999 have as many digits as they need, and a "-" before them.
enum class IsoForm : uint8_t { kDateTime, kDate, kTime };
void AppendIsoDateTime(std::string& out, DateTime value, IsoForm form = IsoForm::kDateTime,
                       bool millis = false);

}  // namespace ostrevane
