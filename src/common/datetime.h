// Date-time values: a double counting days since 1899-12-30 00:00 local
// time, the fraction being the time of day. Dates decode on the proleptic
// Gregorian calendar.
#pragma once

#include <cstdint>

namespace ostrevane {

using DateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int day_of_week = 7;  // 1 = Sunday .. 7 = Saturday
};

// The time of day is rounded to the nearest millisecond; a rounding that
// reaches midnight carries into the next day. For negative values the date
// is the whole part and the time the absolute fraction.
DateTimeParts DecodeDateTime(DateTime value);
DateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0, int millisecond = 0);
// Days since 1970-01-01 of a civil date (negative before).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
// Whether month and day make a day of that year (proleptic Gregorian; any
// year): false for "2024-00-10", "2024-03-00" and "2023-02-29".
bool IsCalendarDate(int64_t year, int64_t month, int64_t day);
// The date-time of a day (days since 1970-01-01) and a time of that day in
// microseconds, on the program's convention: days since 1899-12-30, and for
// negative days the time is subtracted.
DateTime DateTimeFromDays(int64_t days_since_1970, int64_t micros_of_day);

// The one clock of the program; tests pass fixed clocks.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() const = 0;  // local date and time
};
const Clock& SystemClock();
DateTime NowLocal();

// Whole seconds from 1970-01-01 00:00:00 to a local date-time, with no
// time-zone correction (negative before 1970).
int64_t SecondsSince1970(DateTime value);

}  // namespace ostrevane
