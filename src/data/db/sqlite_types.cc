#include "data/db/sqlite_types.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/datetime.h"
#include "common/text.h"
#include "data/db/sqlite_datetime.h"

namespace ostrevane::sqlite {
namespace {

using FT = FieldType;

// ---- Declared types -------------------------------------------------------

enum class Args : uint8_t { kNone, kLength, kDecimal };

struct NamedType {
  const char* name;
  FieldType type;
  Args args;
};

// Names compared after upper-casing and collapsing blanks; the arguments in
// parentheses follow the name.
constexpr NamedType kNamedTypes[] = {
    {"INTEGER", FT::kInteger, Args::kNone},
    {"INT", FT::kInteger, Args::kNone},
    {"INT4", FT::kInteger, Args::kNone},
    {"MEDIUMINT", FT::kInteger, Args::kNone},
    {"BIGINT", FT::kLargeint, Args::kNone},
    {"INT8", FT::kLargeint, Args::kNone},
    {"UNSIGNED BIG INT", FT::kLargeint, Args::kNone},
    {"SMALLINT", FT::kSmallint, Args::kNone},
    {"INT2", FT::kSmallint, Args::kNone},
    {"TINYINT", FT::kSmallint, Args::kNone},
    {"REAL", FT::kFloat, Args::kNone},
    {"DOUBLE", FT::kFloat, Args::kNone},
    {"DOUBLE PRECISION", FT::kFloat, Args::kNone},
    {"FLOAT", FT::kFloat, Args::kNone},
    {"FLOAT4", FT::kFloat, Args::kNone},
    {"FLOAT8", FT::kFloat, Args::kNone},
    {"DECIMAL", FT::kFMTBcd, Args::kDecimal},
    {"NUMERIC", FT::kFMTBcd, Args::kDecimal},
    {"DEC", FT::kFMTBcd, Args::kDecimal},
    {"MONEY", FT::kBCD, Args::kNone},
    {"SMALLMONEY", FT::kBCD, Args::kNone},
    {"CURRENCY", FT::kBCD, Args::kNone},
    {"BOOLEAN", FT::kBoolean, Args::kNone},
    {"BOOL", FT::kBoolean, Args::kNone},
    {"BIT", FT::kBoolean, Args::kNone},
    {"DATE", FT::kDate, Args::kNone},
    {"TIME", FT::kTime, Args::kNone},
    {"DATETIME", FT::kDateTime, Args::kNone},
    {"DATETIME2", FT::kDateTime, Args::kNone},
    {"SMALLDATETIME", FT::kDateTime, Args::kNone},
    {"TIMESTAMP", FT::kDateTime, Args::kNone},
    {"CHAR", FT::kFixedChar, Args::kLength},
    {"CHARACTER", FT::kFixedChar, Args::kLength},
    {"NCHAR", FT::kFixedWideChar, Args::kLength},
    {"NATIVE CHARACTER", FT::kFixedWideChar, Args::kLength},
    {"NATIONAL CHARACTER", FT::kFixedWideChar, Args::kLength},
    {"VARCHAR", FT::kString, Args::kLength},
    {"CHARACTER VARYING", FT::kString, Args::kLength},
    {"VARYING CHARACTER", FT::kString, Args::kLength},
    {"NVARCHAR", FT::kWideString, Args::kLength},
    {"NATIONAL VARCHAR", FT::kWideString, Args::kLength},
    {"NATIONAL CHARACTER VARYING", FT::kWideString, Args::kLength},
    {"TEXT", FT::kMemo, Args::kNone},
    {"CLOB", FT::kMemo, Args::kNone},
    {"TINYTEXT", FT::kMemo, Args::kNone},
    {"MEDIUMTEXT", FT::kMemo, Args::kNone},
    {"LONGTEXT", FT::kMemo, Args::kNone},
    {"NTEXT", FT::kWideMemo, Args::kNone},
    {"NCLOB", FT::kWideMemo, Args::kNone},
    {"BLOB", FT::kBlob, Args::kNone},
    {"TINYBLOB", FT::kBlob, Args::kNone},
    {"MEDIUMBLOB", FT::kBlob, Args::kNone},
    {"LONGBLOB", FT::kBlob, Args::kNone},
    {"IMAGE", FT::kBlob, Args::kNone},
    {"BINARY", FT::kBytes, Args::kLength},
    {"VARBINARY", FT::kVarBytes, Args::kLength},
    {"GUID", FT::kGuid, Args::kNone},
    {"UUID", FT::kGuid, Args::kNone},
    {"UNIQUEIDENTIFIER", FT::kGuid, Args::kNone},
};

// Upper case, blanks trimmed and runs of blanks collapsed to one space.
std::string NormalizeTypeName(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (static_cast<unsigned char>(c) <= ' ') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += ToUpperAscii(c);
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// "(p)" or "(p, s)": the numbers; count is 0 when they are not numbers.
int ParseTypeArgs(std::string_view args, int64_t nums[2]) {
  int count = 0;
  size_t i = 0;
  while (i < args.size() && count < 2) {
    while (i < args.size() && args[i] == ' ') ++i;
    int64_t v = 0;
    auto [p, ec] = std::from_chars(args.data() + i, args.data() + args.size(), v);
    if (ec != std::errc() || v < 0) return 0;
    nums[count++] = v;
    i = size_t(p - args.data());
    while (i < args.size() && args[i] == ' ') ++i;
    if (i < args.size() && args[i] == ',')
      ++i;
    else
      break;
  }
  while (i < args.size() && args[i] == ' ') ++i;
  return i == args.size() ? count : 0;
}

// Precision and scale decide integer, currency-BCD or FMTBcd.
ColumnRule DecimalRule(int count, const int64_t nums[2]) {
  ColumnRule r;
  if (count == 0) {  // no precision: the stored digits as they are
    r.type = FT::kFMTBcd;
    return r;
  }
  const int64_t precision = nums[0];
  const int64_t scale = count > 1 ? nums[1] : 0;
  r.scale = int(std::min<int64_t>(scale, 1000));
  r.size = r.scale;
  if (scale == 0 && precision < 10)
    r.type = FT::kInteger;
  else if (scale <= 4 && precision < 20)
    r.type = FT::kBCD;
  else
    r.type = FT::kFMTBcd;
  return r;
}

// Names that are not in the table: SQLite's own affinity rules, so that a
// column still gets a sensible type.
ColumnRule AffinityRule(const std::string& name, int64_t length) {
  ColumnRule r;
  if (name.find("INT") != std::string::npos) {
    r.type = FT::kLargeint;
  } else if (name.find("CHAR") != std::string::npos || name.find("CLOB") != std::string::npos ||
             name.find("TEXT") != std::string::npos) {
    r.type = FT::kWideString;
    r.size = length;
  } else if (name.find("BLOB") != std::string::npos) {
    r.type = FT::kBlob;
  } else if (name.find("REAL") != std::string::npos || name.find("FLOA") != std::string::npos ||
             name.find("DOUB") != std::string::npos) {
    r.type = FT::kFloat;
  } else {
    r.from_first_value = true;
  }
  return r;
}

// ---- Decimal digits -------------------------------------------------------

// A decimal number as plain digits: integer part without leading zeros
// (empty for zero) and fraction part.
struct Decimal {
  bool negative = false;
  std::string whole;
  std::string fraction;
};


// Accepts [blanks][sign]digits[.digits][e[sign]digits][blanks].
bool ParseDecimal(std::string_view s, Decimal& out) {
  size_t i = 0, n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  out.negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
  std::string digits;
  int64_t point = -1;
  for (; i < n; ++i) {
    if (IsAsciiDigit(s[i]))
      digits += s[i];
    else if (s[i] == '.' && point < 0)
      point = int64_t(digits.size());
    else
      break;
  }
  if (digits.empty()) return false;
  if (point < 0) point = int64_t(digits.size());
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool neg_exp = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) neg_exp = s[i++] == '-';
    int64_t exp = 0;
    size_t start = i;
    for (; i < n && IsAsciiDigit(s[i]); ++i)
      if ((exp = exp * 10 + (s[i] - '0')) > 100000) return false;
    if (i == start) return false;
    point += neg_exp ? -exp : exp;
  }
  if (i != n) return false;
  if (point > 400 || point < -400) return false;  // far beyond any declared precision
  if (point <= 0) {
    out.whole.clear();
    out.fraction.assign(size_t(-point), '0');
    out.fraction += digits;
  } else if (point >= int64_t(digits.size())) {
    out.whole = digits;
    out.whole.append(size_t(point) - digits.size(), '0');
    out.fraction.clear();
  } else {
    out.whole = digits.substr(0, size_t(point));
    out.fraction = digits.substr(size_t(point));
  }
  size_t lead = out.whole.find_first_not_of('0');
  out.whole.erase(0, lead == std::string::npos ? out.whole.size() : lead);
  return true;
}

bool DecimalFromDouble(double d, Decimal& out) {
  if (!std::isfinite(d)) return false;
  char buf[400];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  if (ec != std::errc()) return false;
  return ParseDecimal(std::string_view(buf, size_t(p - buf)), out);
}

bool DecimalFromRaw(const RawValue& raw, Decimal& out) {
  switch (raw.storage) {
    case Storage::kInteger: {
      char buf[24];
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, raw.i);
      return ParseDecimal(std::string_view(buf, size_t(p - buf)), out);
    }
    case Storage::kFloat:
      return DecimalFromDouble(raw.d, out);
    case Storage::kText:
      return ParseDecimal(raw.bytes, out);
    default:
      return false;
  }
}

// Rounds to `scale` fraction digits, halves away from zero, and pads the
// fraction with zeros to exactly that many.
void RoundDecimal(Decimal& x, int scale) {
  const size_t s = size_t(scale);
  if (x.fraction.size() > s) {
    const bool up = x.fraction[s] >= '5';
    x.fraction.resize(s);
    if (up) {
      std::string all = x.whole + x.fraction;
      size_t k = all.size();
      while (k > 0 && all[k - 1] == '9') all[--k] = '0';
      if (k == 0)
        all.insert(all.begin(), '1');
      else
        ++all[k - 1];
      x.whole = all.substr(0, all.size() - s);
      x.fraction = all.substr(all.size() - s);
    }
  }
  x.fraction.append(s - x.fraction.size(), '0');
}

bool IsZero(const Decimal& x) {
  return x.whole.find_first_not_of('0') == std::string::npos &&
         x.fraction.find_first_not_of('0') == std::string::npos;
}

std::string DecimalText(const Decimal& x) {
  std::string s;
  if (x.negative && !IsZero(x)) s += '-';
  s += x.whole.empty() ? "0" : x.whole;
  if (!x.fraction.empty()) s += '.' + x.fraction;
  return s;
}

// The digits of `x` (already rounded) scaled by 10^shift as an integer;
// false on overflow.
bool ScaledInteger(const Decimal& x, int shift, int64_t& out) {
  std::string digits = x.whole + x.fraction.substr(0, size_t(shift));
  digits.append(size_t(shift) - std::min(x.fraction.size(), size_t(shift)), '0');
  uint64_t v = 0;
  for (char c : digits) {
    if (v > (uint64_t(std::numeric_limits<int64_t>::max()) - uint64_t(c - '0')) / 10) return false;
    v = v * 10 + uint64_t(c - '0');
  }
  out = x.negative ? -int64_t(v) : int64_t(v);
  return true;
}

// ---- Values ---------------------------------------------------------------

bool IsTextType(FieldType t) {
  return t == FT::kString || t == FT::kFixedChar || t == FT::kWideString ||
         t == FT::kFixedWideChar || t == FT::kMemo || t == FT::kWideMemo;
}

void SetText(Value& out, std::string_view bytes, ValueKind kind = ValueKind::kText) {
  if (IsValidUtf8(bytes))
    out.SetText(bytes, kind);
  else
    out.SetText(SanitizeUtf8(bytes), kind);
}

void SetNumberText(Value& out, const RawValue& raw) {
  char buf[64];
  std::to_chars_result r = raw.storage == Storage::kInteger
                               ? std::to_chars(buf, buf + sizeof buf, raw.i)
                               : std::to_chars(buf, buf + sizeof buf, raw.d);
  out.SetText(std::string_view(buf, size_t(r.ptr - buf)));
}

// The value in its own kind, whatever the column says.
void SetNatural(const RawValue& raw, Value& out) {
  switch (raw.storage) {
    case Storage::kNull:
      out.SetNull();
      break;
    case Storage::kInteger:
      out.SetInteger(raw.i, ValueKind::kInt64);
      break;
    case Storage::kFloat:
      out.SetDouble(raw.d);
      break;
    case Storage::kText:
      SetText(out, raw.bytes);
      break;
    case Storage::kBlob:
      out.SetText(raw.bytes, ValueKind::kBytes);
      break;
  }
}

void SetIntegerOfWidth(FieldType type, int64_t v, Value& out) {
  ValueKind kind = ValueKind::kInt64;
  if (type == FT::kSmallint && v >= -32768 && v <= 32767)
    kind = ValueKind::kInt16;
  else if ((type == FT::kInteger) && v >= std::numeric_limits<int32_t>::min() &&
           v <= std::numeric_limits<int32_t>::max())
    kind = ValueKind::kInt32;
  out.SetInteger(v, kind);
}

// The currency value (ten-thousandths, rounded to `scale` decimals when
// that is 0-3) of a stored number without going through its digits, for
// the common cases: an integer, or a double that is the nearest one to a
// number with at most four decimals and 15 digits (a price, an amount).
// Such a number is the double's shortest text - no other text of at most 15
// digits reads as the same double - so the result equals the digit path's.
// False when the value needs that path.
bool CurrencyFromNumber(const RawValue& raw, int scale, int64_t& out) {
  if (raw.storage == Storage::kInteger) {
    if (raw.i > 922337203685477 || raw.i < -922337203685477) return false;
    out = raw.i * 10000;
    return true;
  }
  if (raw.storage != Storage::kFloat || !(std::fabs(raw.d) < 1e11)) return false;
  const double n = std::nearbyint(raw.d * 10000.0);
  if (n / 10000.0 != raw.d) return false;
  int64_t v = int64_t(n);
  if (scale >= 0 && scale < 4) {
    int64_t unit = 1;
    for (int k = scale; k < 4; ++k) unit *= 10;
    int64_t whole = v / unit;
    const int64_t rest = v % unit;
    if (2 * (rest < 0 ? -rest : rest) >= unit) whole += v < 0 ? -1 : 1;  // half away from zero
    v = whole * unit;
  }
  out = v;
  return true;
}

// Decimal columns (and decimal-born integer columns): digits rounded to
// the declared scale, then the field's kind; a value beyond the kind's
// range keeps its exact digits as a decimal.
void ConvertDecimal(const ColumnRule& rule, const RawValue& raw, Value& out) {
  int64_t v;
  if (rule.type == FT::kBCD && CurrencyFromNumber(raw, rule.scale, v)) return out.SetCurrency(v);
  Decimal x;
  if (!DecimalFromRaw(raw, x)) return SetNatural(raw, out);
  if (rule.scale >= 0) RoundDecimal(x, rule.scale);
  if (rule.type == FT::kInteger && ScaledInteger(x, 0, v))
    return SetIntegerOfWidth(rule.type, v, out);
  if (rule.type == FT::kBCD && ScaledInteger(x, 4, v)) return out.SetCurrency(v);
  out.SetText(DecimalText(x), ValueKind::kDecimal);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 32 hexadecimal digits, optionally in 8-4-4-4-12 groups and braces, or 16
// bytes (in the order the text shows them); false for anything else.
bool GuidText(const RawValue& raw, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  if (raw.storage == Storage::kBlob) {
    if (raw.bytes.size() != 16) return false;
    for (unsigned char b : raw.bytes) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
  } else {
    std::string_view s = raw.bytes;
    if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
    const bool grouped = s.size() == 36;
    if (!grouped && s.size() != 32) return false;
    for (size_t i = 0; i < s.size(); ++i) {
      if (grouped && (i == 8 || i == 13 || i == 18 || i == 23)) {
        if (s[i] != '-') return false;
        continue;
      }
      int h = HexDigit(s[i]);
      if (h < 0) return false;
      hex += kHex[h];
    }
  }
  out = hex.substr(0, 8) + '-' + hex.substr(8, 4) + '-' + hex.substr(12, 4) + '-' +
        hex.substr(16, 4) + '-' + hex.substr(20);
  return true;
}

bool BooleanText(std::string_view s, bool& out) {
  if (IEquals(s, "true")) return out = true, true;
  if (IEquals(s, "false")) return out = false, true;
  return false;
}

}  // namespace

ColumnRule RuleForDeclaredType(const char* declared) {
  ColumnRule none;
  none.from_first_value = true;
  if (!declared || !*declared) return none;
  const std::string_view text(declared);
  const size_t open = text.find('(');
  const std::string name = NormalizeTypeName(text.substr(0, open));
  int64_t nums[2] = {0, 0};
  int count = 0;
  if (open != std::string_view::npos) {
    const size_t close = text.find(')', open);
    count = ParseTypeArgs(
        NormalizeTypeName(text.substr(
            open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1)),
        nums);
  }
  for (const NamedType& t : kNamedTypes) {
    if (name != t.name) continue;
    if (t.args == Args::kDecimal) return DecimalRule(count, nums);
    ColumnRule r;
    r.type = t.type;
    if (t.args == Args::kLength && count >= 1) r.size = nums[0];
    if (t.type == FT::kBCD) r.scale = 4;  // currency types
    if (t.type == FT::kGuid) r.size = 38;
    return r;
  }
  return AffinityRule(name, count >= 1 ? nums[0] : 0);
}

void SettleRule(ColumnRule& rule, Storage first) {
  if (!rule.from_first_value) return;
  rule.from_first_value = false;
  rule.size = 0;
  rule.scale = -1;
  switch (first) {
    case Storage::kInteger:
      rule.type = FT::kLargeint;
      break;
    case Storage::kFloat:
      rule.type = FT::kFloat;
      break;
    case Storage::kBlob:
      rule.type = FT::kBlob;
      break;
    case Storage::kText:
    case Storage::kNull:
      rule.type = FT::kWideString;
      break;
  }
}

void ConvertValue(const ColumnRule& rule, const RawValue& raw, Value& out) {
  const FieldType type = rule.type;
  if (raw.storage == Storage::kNull) {
    // Long text columns deliver null as empty text.
    if (type == FT::kMemo || type == FT::kWideMemo)
      out.SetText("");
    else
      out.SetNull();
    return;
  }
  if (IsTextType(type)) {
    if (raw.storage == Storage::kInteger || raw.storage == Storage::kFloat)
      SetNumberText(out, raw);
    else
      SetText(out, raw.bytes);
    return;
  }
  switch (type) {
    case FT::kSmallint:
    case FT::kInteger:
    case FT::kLargeint:
      if (rule.scale >= 0) return ConvertDecimal(rule, raw, out);
      if (raw.storage == Storage::kInteger) return SetIntegerOfWidth(type, raw.i, out);
      if (raw.storage == Storage::kFloat && std::trunc(raw.d) == raw.d && raw.d >= -9.2e18 &&
          raw.d <= 9.2e18)
        return SetIntegerOfWidth(type, int64_t(raw.d), out);
      return SetNatural(raw, out);
    case FT::kFloat:
      if (raw.storage == Storage::kInteger) return out.SetDouble(double(raw.i));
      return SetNatural(raw, out);
    case FT::kBCD:
    case FT::kFMTBcd:
      return ConvertDecimal(rule, raw, out);
    case FT::kBoolean: {
      bool b;
      if (raw.storage == Storage::kInteger) return out.SetBoolean(raw.i != 0);
      if (raw.storage == Storage::kFloat) return out.SetBoolean(raw.d != 0);
      if (raw.storage == Storage::kText && BooleanText(raw.bytes, b)) return out.SetBoolean(b);
      return SetNatural(raw, out);
    }
    case FT::kDate:
    case FT::kTime:
    case FT::kDateTime: {
      double dt;
      if (raw.storage == Storage::kInteger && NumericDateTime(double(raw.i), dt))
        return out.SetDateTime(dt);
      if (raw.storage == Storage::kFloat && NumericDateTime(raw.d, dt)) return out.SetDateTime(dt);
      if (raw.storage == Storage::kText && ParseIsoDateTime(raw.bytes, dt))
        return out.SetDateTime(dt);
      return SetNatural(raw, out);
    }
    case FT::kGuid: {
      std::string g;
      if ((raw.storage == Storage::kText || raw.storage == Storage::kBlob) && GuidText(raw, g))
        return out.SetText(g, ValueKind::kGuid);
      return SetNatural(raw, out);
    }
    case FT::kBlob:
      if (raw.storage == Storage::kBlob && raw.bytes.empty()) return out.SetNull();
      return SetNatural(raw, out);
    default:
      return SetNatural(raw, out);
  }
}

}  // namespace ostrevane::sqlite
