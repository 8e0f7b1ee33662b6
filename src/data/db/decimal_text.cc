#include "data/db/decimal_text.h"

#include <limits>

#include "common/text.h"

namespace ostrevane {
namespace {

// A decimal split into its sign, integer digits and fraction digits, with
// any exponent applied by moving the point.
struct Decimal {
  bool negative = false;
  std::string whole;     // without leading zeros; may be empty
  std::string fraction;  // as given
};

std::optional<Decimal> Parse(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  Decimal d;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) d.negative = t[i++] == '-';
  std::string digits;
  size_t point = std::string::npos;
  bool any = false;
  for (; i < t.size(); ++i) {
    if (IsAsciiDigit(t[i])) {
      digits += t[i];
      any = true;
    } else if (t[i] == '.' && point == std::string::npos) {
      point = digits.size();
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (point == std::string::npos) point = digits.size();
  if (i < t.size()) {
    if (t[i] != 'e' && t[i] != 'E') return std::nullopt;
    ++i;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
    if (i == t.size()) return std::nullopt;
    long exp = 0;
    for (; i < t.size(); ++i) {
      if (!IsAsciiDigit(t[i]) || exp > 100000) return std::nullopt;
      exp = exp * 10 + (t[i] - '0');
    }
    long p = long(point) + (neg ? -exp : exp);
    if (p < 0) {
      digits.insert(0, size_t(-p), '0');
      p = 0;
    } else if (size_t(p) > digits.size()) {
      digits.append(size_t(p) - digits.size(), '0');
    }
    point = size_t(p);
  }
  d.whole = digits.substr(0, point);
  d.fraction = digits.substr(point);
  size_t nz = d.whole.find_first_not_of('0');
  d.whole.erase(0, nz == std::string::npos ? d.whole.size() : nz);
  return d;
}

// The common shape "-123.45" read without building strings: at most 14
// whole and 4 fraction digits cannot overflow. Empty for any other shape,
// which the general reader takes.
std::optional<int64_t> ParseShortCurrency(std::string_view t) {
  size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) i = 1;
  const size_t whole_begin = i;
  int64_t v = 0;
  for (; i < t.size() && IsAsciiDigit(t[i]); ++i) {
    if (i - whole_begin == 14) return std::nullopt;
    v = v * 10 + (t[i] - '0');
  }
  if (i == whole_begin) return std::nullopt;
  int decimals = 0;
  if (i < t.size()) {
    if (t[i++] != '.') return std::nullopt;
    for (; i < t.size() && decimals < 4 && IsAsciiDigit(t[i]); ++i, ++decimals)
      v = v * 10 + (t[i] - '0');
    if (i != t.size()) return std::nullopt;
  }
  for (; decimals < 4; ++decimals) v *= 10;
  return negative ? -v : v;
}

}  // namespace

std::optional<std::string> NormalizeDecimal(std::string_view text) {
  std::optional<Decimal> d = Parse(text);
  if (!d) return std::nullopt;
  const bool zero = d->whole.empty() && d->fraction.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (d->negative && !zero) out += '-';
  out += d->whole.empty() ? "0" : d->whole;
  if (!d->fraction.empty()) out += '.' + d->fraction;
  return out;
}

std::optional<int64_t> ParseCurrency(std::string_view text) {
  if (std::optional<int64_t> v = ParseShortCurrency(text)) return v;
  std::optional<Decimal> d = Parse(text);
  if (!d) return std::nullopt;
  // Magnitude as an unsigned count of ten-thousandths, then the sign.
  constexpr uint64_t kMax = uint64_t(std::numeric_limits<int64_t>::max()) + 1;
  std::string digits = d->whole + d->fraction.substr(0, std::min<size_t>(4, d->fraction.size()));
  if (d->fraction.size() < 4) digits.append(4 - d->fraction.size(), '0');
  uint64_t v = 0;
  for (char c : digits) {
    if (v > (kMax - uint64_t(c - '0')) / 10) return std::nullopt;
    v = v * 10 + uint64_t(c - '0');
  }
  if (d->fraction.size() > 4 && d->fraction[4] >= '5') {
    if (v >= kMax) return std::nullopt;
    ++v;
  }
  if (d->negative) return v == kMax ? std::numeric_limits<int64_t>::min() : -int64_t(v);
  if (v >= kMax) return std::nullopt;
  return int64_t(v);
}

std::string CurrencyText(int64_t ten_thousandths) {
  const int64_t v = ten_thousandths;
  const uint64_t magnitude = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  const std::string whole = std::to_string(magnitude / 10000);
  const std::string fraction = std::to_string(magnitude % 10000);
  return Concat({v < 0 ? "-" : "", whole, ".", std::string_view("0000", 4 - fraction.size()),
                 fraction});
}

}  // namespace ostrevane
