#include "writers/number_text.h"

#include <charconv>
#include <cmath>

namespace ostrevane {
namespace {

bool AppendNonFinite(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "Nan";
    return true;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Inf" : "Inf";
    return true;
  }
  return false;
}

void AppendUnsigned(std::string& out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendHundredths(std::string& out, uint64_t hundredths, char sep) {
  AppendUnsigned(out, hundredths / 100);
  out += sep;
  const unsigned frac = unsigned(hundredths % 100);
  out += char('0' + frac / 10);
  out += char('0' + frac % 10);
}

}  // namespace

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendPadded(std::string& out, int64_t v, int min_digits) {
  if (v >= 0 && v < 100 && min_digits <= 2) {  // the parts of dates and times
    if (v >= 10 || min_digits == 2) out += char('0' + v / 10);
    out += char('0' + v % 10);
    return;
  }
  uint64_t u = uint64_t(v);
  if (v < 0) {
    out += '-';
    u = 0 - u;
  }
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  for (int k = int(r.ptr - buf); k < min_digits; ++k) out += '0';
  out.append(buf, r.ptr);
}

void AppendTwoDecimals(std::string& out, double v, char sep) {
  if (AppendNonFinite(out, v)) return;
  if (v < 0) out += '-';
  const double a = std::fabs(v);
  if (a < 1e15) {
    // a * 100 is exact in the 64-bit significand of long double (53 + 7
    // bits), and so is adding the half: the truncation is the correctly
    // rounded count of hundredths, with a half rounded up.
    const long double hundredths = static_cast<long double>(a) * 100 + 0.5L;
    AppendHundredths(out, uint64_t(hundredths), sep);
    return;
  }
  // Above 1e15 a double holds no fraction digits that matter: every value
  // is a multiple of 0.125, and halves cannot end in the hundredths.
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, 2);
  for (char* p = buf; p != r.ptr; ++p)
    if (*p == '.') *p = sep;
  out.append(buf, r.ptr);
}

void AppendCurrencyTwoDecimals(std::string& out, int64_t count, char sep) {
  uint64_t u = uint64_t(count);
  if (count < 0) {
    out += '-';
    u = 0 - u;
  }
  AppendHundredths(out, u / 100 + (u % 100 >= 50 ? 1 : 0), sep);
}

void AppendFloatText(std::string& out, double v) {
  if (AppendNonFinite(out, v)) return;
  if (v == 0) v = 0;  // no sign for -0
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  const std::string_view s(buf, size_t(r.ptr - buf));
  const size_t e = s.find('e');
  out.append(s.substr(0, e));
  out += 'E';
  out += s[e + 1];  // sign
  const std::string_view exp = s.substr(e + 2);
  for (size_t k = exp.size(); k < 4; ++k) out += '0';
  out.append(exp);
}

void AppendCurrencyDigits(std::string& out, int64_t count) {
  uint64_t u = uint64_t(count);
  if (count < 0) {
    out += '-';
    u = 0 - u;
  }
  AppendPadded(out, int64_t(u / 10000), 1);
  out += '.';
  AppendPadded(out, int64_t(u % 10000), 4);
}

void AppendDecimalText(std::string& out, std::string_view s, char sep) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  const size_t int_begin = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  const size_t int_end = i;
  size_t frac_begin = i, frac_end = i;
  if (i < s.size() && s[i] == '.') {
    frac_begin = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    frac_end = i;
  }
  if (i != s.size() || (int_begin == int_end && frac_begin == frac_end)) {
    out.append(s);
    return;
  }
  size_t ib = int_begin;
  while (ib < int_end && s[ib] == '0') ++ib;
  size_t fe = frac_end;
  while (fe > frac_begin && s[fe - 1] == '0') --fe;
  if (ib == int_end && fe == frac_begin) {
    out += '0';
    return;
  }
  if (negative) out += '-';
  if (ib == int_end)
    out += '0';
  else
    out.append(s.substr(ib, int_end - ib));
  if (fe > frac_begin) {
    out += sep;
    out.append(s.substr(frac_begin, fe - frac_begin));
  }
}

void AppendShortest(std::string& out, double v) {
  if (AppendNonFinite(out, v)) return;
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace ostrevane
