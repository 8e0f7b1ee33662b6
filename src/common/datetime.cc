#include "common/datetime.h"

#include <sys/time.h>
#include <time.h>

#include <cmath>

namespace ostrevane {
namespace {

constexpr int64_t kDays1899To1970 = 25569;
constexpr int64_t kMsPerDay = 86400000;

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
}

class SystemClockImpl : public Clock {
 public:
  DateTime Now() const override {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    time_t t = tv.tv_sec;
    localtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec, int(tv.tv_usec / 1000));
  }
};

}  // namespace

DateTime DateTimeFromDays(int64_t days_since_1970, int64_t micros_of_day) {
  const double days = double(days_since_1970 + kDays1899To1970);
  const double time = double(micros_of_day) / 86400e6;
  return days >= 0 ? days + time : days - time;
}

bool IsCalendarDate(int64_t year, int64_t month, int64_t day) {
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTimeParts DecodeDateTime(DateTime value) {
  DateTimeParts p;
  if (!std::isfinite(value)) return p;
  double whole = std::trunc(value);
  int64_t days = int64_t(whole);
  int64_t ms = int64_t(std::llround(std::fabs(value - whole) * kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  const int64_t unix_days = days - kDays1899To1970;
  CivilFromDays(unix_days, p.year, p.month, p.day);
  // 1970-01-01 was a Thursday (5).
  p.day_of_week = int(((unix_days % 7) + 7 + 4) % 7) + 1;
  p.hour = int(ms / 3600000);
  p.minute = int(ms / 60000 % 60);
  p.second = int(ms / 1000 % 60);
  p.millisecond = int(ms % 1000);
  return p;
}

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  const double days = double(DaysFromCivil(year, unsigned(month), unsigned(day)) + kDays1899To1970);
  const double time =
      double(((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond) / kMsPerDay;
  return days >= 0 ? days + time : days - time;
}

const Clock& SystemClock() {
  static const SystemClockImpl clock;
  return clock;
}

DateTime NowLocal() { return SystemClock().Now(); }

int64_t SecondsSince1970(DateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  int64_t days = DaysFromCivil(p.year, unsigned(p.month), unsigned(p.day));
  return days * 86400 + p.hour * 3600 + p.minute * 60 + p.second;
}

}  // namespace ostrevane
