// Date-times as SQLite stores them: ISO-8601 texts and numbers (Julian
// days or Unix seconds) read into the program's date-time value, and the
// text a date-time parameter is bound as.
#pragma once

#include <string>
#include <string_view>

#include "data/value.h"

namespace ostrevane::sqlite {

// The date-time of an ISO-8601 text "YYYY-MM-DD", "YYYY-MM-DD HH:MM",
// "YYYY-MM-DD HH:MM:SS[.fff...]" ("T" in place of the space allowed), or a
// time alone "HH:MM[:SS[.fff...]]" (on day 0). Fractions beyond the
// millisecond are cut. False for anything else (time-zone suffixes
// included).
bool ParseIsoDateTime(std::string_view text, double& out);

// A number stored in a date-time column: from 0 up to 5373484.5 a Julian
// day number, otherwise seconds since 1970-01-01 00:00:00 (SQLite's own
// "auto" reading). No time-zone conversion. False outside years 1..9999.
bool NumericDateTime(double number, double& out);

// The text of a date-time for binding: "YYYY-MM-DD HH:MM:SS" with ".fff"
// when there are milliseconds; the date alone for kDate, the time alone
// for kTime.
std::string DateTimeToIso(double value, FieldType type);

}  // namespace ostrevane::sqlite
