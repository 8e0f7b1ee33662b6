#include "data/db/sqlite_datetime.h"

#include <cmath>
#include <cstdio>

#include "common/datetime.h"
#include "common/text.h"

namespace ostrevane::sqlite {

bool ParseIsoDateTime(std::string_view s, double& out) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  size_t i = 0;
  auto number = [&](size_t digits, int& v) {
    if (i + digits > s.size()) return false;
    v = 0;
    for (size_t k = 0; k < digits; ++k, ++i) {
      if (!IsAsciiDigit(s[i])) return false;
      v = v * 10 + (s[i] - '0');
    }
    return true;
  };
  auto literal = [&](char c) { return i < s.size() && s[i] == c ? (++i, true) : false; };

  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, ms = 0;
  const bool time_only = s.size() >= 3 && s[2] == ':';
  if (!time_only) {
    if (!number(4, year) || !literal('-') || !number(2, month) || !literal('-') || !number(2, day))
      return false;
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    if (i == s.size()) return out = EncodeDateTime(year, month, day), true;
    if (!literal(' ') && !literal('T')) return false;
  }
  if (!number(2, hour) || !literal(':') || !number(2, minute)) return false;
  if (literal(':')) {
    if (!number(2, second)) return false;
    if (literal('.')) {
      size_t start = i;
      for (; i < s.size() && IsAsciiDigit(s[i]); ++i)
        if (i - start < 3) ms = ms * 10 + (s[i] - '0');
      if (i == start) return false;
      for (size_t k = i - start; k < 3; ++k) ms *= 10;
    }
  }
  if (i != s.size() || hour > 23 || minute > 59 || second > 59) return false;
  out = EncodeDateTime(year, month, day, hour, minute, second, ms);
  return true;
}

bool NumericDateTime(double number, double& out) {
  if (!std::isfinite(number)) return false;
  const double linear = number >= 0 && number < 5373484.5 ? number - 2415018.5  // Julian day
                                                          : number / 86400.0 + 25569.0;
  // 0001-01-01 .. 9999-12-31 23:59:59.999
  if (linear < -693593.0 || linear >= 2958466.0) return false;
  double whole = std::floor(linear);
  int64_t ms = std::llround((linear - whole) * 86400000.0);
  if (ms >= 86400000) {
    whole += 1;
    ms = 0;
  }
  const double time = double(ms) / 86400000.0;
  // Before 1899-12-30 the time of day counts away from zero.
  out = whole >= 0 ? whole + time : whole - time;
  return true;
}

std::string DateTimeToIso(double value, FieldType type) {
  const DateTimeParts p = DecodeDateTime(value);
  char buf[40];
  int n = 0;
  if (type != FieldType::kTime)
    n += std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  if (type != FieldType::kDate) {
    if (n) buf[n++] = ' ';
    n += std::snprintf(buf + n, sizeof buf - size_t(n), "%02d:%02d:%02d", p.hour, p.minute,
                       p.second);
    if (p.millisecond) n += std::snprintf(buf + n, sizeof buf - size_t(n), ".%03d", p.millisecond);
  }
  return std::string(buf, size_t(n));
}

}  // namespace ostrevane::sqlite
