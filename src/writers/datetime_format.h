// Date-time values as text, by the program's date-time pattern language
// ("yyyy-mm-dd hh:nn:ss", "h:mm AM/PM", "dddd", "c", ...). The one formatter
// serves both the cell texts of date-time values (with the "!" escape) and
// the "?DATE"/"?TIME" macros of name templates (escape off).
#pragma once

#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/format_settings.h"

namespace ostrevane {

// The text of `value` by `pattern` (an empty pattern means "c"). With
// `escape`, "!" makes the next character literal; without it "!" is copied.
// Never fails: every pattern character gives some output or none.
std::string FormatDateTimeText(std::string_view pattern, const TFormatSettings& fs,
                               DateTime value, bool escape = true);

// The same, appended to `out` (no allocation besides the growth of `out`).
void AppendDateTimeText(std::string& out, std::string_view pattern, const TFormatSettings& fs,
                        DateTime value, bool escape = true);

// The date-time decoding used by the writers: DecodeDateTime for values it
// can represent; values outside +-1e11 days decode like non-finite values
// (the epoch 1899-12-30 00:00), so no value can overflow the calendar.
DateTimeParts DecodeForText(DateTime value);

}  // namespace ostrevane
