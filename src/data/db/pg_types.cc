#include "data/db/pg_types.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/decimal_text.h"

namespace ostrevane {
namespace {

constexpr int64_t kDays1899To1970 = 25569;

[[noreturn]] void ConversionError(const PgColumn& col, std::string_view text, const char* what) {
  throw Error(kEDatabaseError, "Column \"" + col.name + "\" holds " + std::string(what) + " \"" +
                                   CutForMessage(PgOneLine(text)) +
                                   "\"; cast it to text in the SQL");
}

bool ParseInt(std::string_view t, int64_t& v) {
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseDouble(std::string_view t, double& v) {
  if (t == "Infinity") {
    v = HUGE_VAL;
    return true;
  }
  if (t == "-Infinity") {
    v = -HUGE_VAL;
    return true;
  }
  if (t == "NaN") {
    v = std::nan("");
    return true;
  }
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

// Reads `n` digits at t[i]; false when there are fewer.
bool Digits(std::string_view t, size_t& i, size_t n, int64_t& v) {
  v = 0;
  for (size_t k = 0; k < n; ++k, ++i) {
    if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  return true;
}

// "YYYY-MM-DD" (4 or more year digits) at the start of t.
bool ParseIsoDate(std::string_view t, size_t& i, int64_t& y, int64_t& m, int64_t& d) {
  i = 0;
  size_t dash = t.find('-');
  if (dash == std::string_view::npos || dash < 4) return false;
  if (!Digits(t, i, dash, y)) return false;
  ++i;
  if (!Digits(t, i, 2, m) || i >= t.size() || t[i] != '-') return false;
  ++i;
  return Digits(t, i, 2, d) && m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

// "HH:MM:SS[.ffffff]" at t[i]; microseconds of the day, cut to whole
// milliseconds (the precision of the program's date-times): 23:59:59.999999
// stays in its second instead of rounding into the next day.
bool ParseIsoTime(std::string_view t, size_t& i, int64_t& micros) {
  int64_t h, n, s;
  if (!Digits(t, i, 2, h) || i >= t.size() || t[i++] != ':') return false;
  if (!Digits(t, i, 2, n) || i >= t.size() || t[i++] != ':') return false;
  if (!Digits(t, i, 2, s)) return false;
  int64_t frac = 0;
  if (i < t.size() && t[i] == '.') {
    ++i;
    int64_t scale = 100000;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      frac += (t[i] - '0') * scale;
      scale /= 10;
      ++i;
    }
  }
  frac -= frac % 1000;
  micros = ((h * 60 + n) * 60 + s) * 1000000 + frac;
  return true;
}

bool EndsWithBc(std::string_view& t) {
  if (t.size() > 3 && t.substr(t.size() - 3) == " BC") {
    t.remove_suffix(3);
    return true;
  }
  return false;
}

// timestamptz text in the session's zone ("...+05:30") to local time.
bool ParseTimestampTz(std::string_view t, DateTime& out) {
  const bool bc = EndsWithBc(t);
  size_t i;
  int64_t y, m, d, micros;
  if (!ParseIsoDate(t, i, y, m, d)) return false;
  if (bc) y = 1 - y;
  if (i >= t.size() || t[i++] != ' ' || !ParseIsoTime(t, i, micros)) return false;
  if (i >= t.size() || (t[i] != '+' && t[i] != '-')) return false;
  const int sign = t[i++] == '-' ? -1 : 1;
  int64_t oh, om = 0, os = 0;
  if (!Digits(t, i, 2, oh)) return false;
  if (i < t.size() && t[i] == ':' && (++i, !Digits(t, i, 2, om))) return false;
  if (i < t.size() && t[i] == ':' && (++i, !Digits(t, i, 2, os))) return false;
  if (i != t.size()) return false;
  const int64_t utc_micros = (DaysFromCivil(y, unsigned(m), unsigned(d)) * 86400) * 1000000 +
                             micros - sign * ((oh * 60 + om) * 60 + os) * 1000000;
  int64_t secs = utc_micros / 1000000, us = utc_micros % 1000000;
  if (us < 0) {
    us += 1000000;
    --secs;
  }
  time_t tt = time_t(secs);
  struct tm lt;
  if (!localtime_r(&tt, &lt)) return false;
  const int64_t local_days =
      DaysFromCivil(int64_t(lt.tm_year) + 1900, unsigned(lt.tm_mon + 1), unsigned(lt.tm_mday));
  out = DateTimeFromDays(
      local_days, ((int64_t(lt.tm_hour) * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000000 + us);
  return true;
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void DecodeBytea(std::string_view t, std::string& out) {
  out.clear();
  if (t.size() >= 2 && t[0] == '\\' && t[1] == 'x') {
    out.reserve((t.size() - 2) / 2);
    for (size_t i = 2; i + 1 < t.size(); i += 2)
      out += char(HexNibble(t[i]) << 4 | HexNibble(t[i + 1]));
    return;
  }
  // The old escape format, in case a script changed bytea_output.
  size_t n = 0;
  std::string copy(t);
  unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(copy.c_str()), &n);
  if (!raw) throw Error(kEDatabaseError, "Out of memory decoding a bytea value");
  out.assign(reinterpret_cast<char*>(raw), n);
  PQfreemem(raw);
}

void AppendPadded(std::string& out, int64_t v, int width) {
  std::string d = std::to_string(v < 0 ? -v : v);
  if (v < 0) out += '-';
  if (int(d.size()) < width) out.append(size_t(width) - d.size(), '0');
  out += d;
}

}  // namespace

std::string PgOneLine(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return SanitizeUtf8(out);
}

void ConvertPgValue(const PgColumn& col, const char* data, int len, bool is_null, bool sanitize,
                    Value& v) {
  if (is_null) {
    if (col.conv == PgConversion::kMemo)
      v.SetText({});
    else
      v.SetNull();
    return;
  }
  std::string_view t(data, size_t(len));
  int64_t n;
  double f;
  switch (col.conv) {
    case PgConversion::kInt16:
    case PgConversion::kInt32:
    case PgConversion::kInt64:
    case PgConversion::kNumericInt:
      if (!ParseInt(t, n)) ConversionError(col, t, "the number");
      v.SetInteger(n, col.conv == PgConversion::kInt16   ? ValueKind::kInt16
                      : col.conv == PgConversion::kInt64 ? ValueKind::kInt64
                                                         : ValueKind::kInt32);
      return;
    case PgConversion::kFloat4:
      if (!ParseDouble(t, f)) ConversionError(col, t, "the number");
      v.SetDouble(double(float(f)));
      return;
    case PgConversion::kFloat8:
      if (!ParseDouble(t, f)) ConversionError(col, t, "the number");
      v.SetDouble(f);
      return;
    case PgConversion::kCurrency: {
      std::optional<int64_t> c = ParseCurrency(t);
      if (!c) ConversionError(col, t, "a value outside the currency range:");
      v.SetCurrency(*c);
      return;
    }
    case PgConversion::kDecimal: {
      std::optional<std::string> d = NormalizeDecimal(t);
      if (!d) ConversionError(col, t, "the value");
      v.SetText(*d, ValueKind::kDecimal);
      return;
    }
    case PgConversion::kBool:
      v.SetBoolean(t == "t");
      return;
    case PgConversion::kDate: {
      const bool bc = EndsWithBc(t);
      size_t i;
      int64_t y, m, d;
      if (!ParseIsoDate(t, i, y, m, d) || i != t.size()) ConversionError(col, t, "the date");
      v.SetDateTime(DateTimeFromDays(DaysFromCivil(bc ? 1 - y : y, unsigned(m), unsigned(d)), 0));
      return;
    }
    case PgConversion::kTime: {
      size_t i = 0;
      int64_t micros;
      if (!ParseIsoTime(t, i, micros) || i != t.size()) ConversionError(col, t, "the time");
      v.SetDateTime(DateTimeFromDays(-kDays1899To1970, micros));
      return;
    }
    case PgConversion::kTimestamp: {
      const bool bc = EndsWithBc(t);
      size_t i;
      int64_t y, m, d, micros;
      if (!ParseIsoDate(t, i, y, m, d) || i >= t.size() || t[i++] != ' ' ||
          !ParseIsoTime(t, i, micros) || i != t.size())
        ConversionError(col, t, "the date-time");
      v.SetDateTime(DateTimeFromDays(DaysFromCivil(bc ? 1 - y : y, unsigned(m), unsigned(d)), micros));
      return;
    }
    case PgConversion::kTimestampTz: {
      DateTime dt;
      if (!ParseTimestampTz(t, dt)) ConversionError(col, t, "the date-time");
      v.SetDateTime(dt);
      return;
    }
    case PgConversion::kText:
    case PgConversion::kMemo:
      if (sanitize && !IsValidUtf8(t))
        v.SetText(SanitizeUtf8(t));
      else
        v.SetText(t);
      return;
    case PgConversion::kBytes:
      v.kind = ValueKind::kBytes;
      DecodeBytea(t, v.s);
      if (v.s.empty()) v.SetNull();  // a long binary value: empty arrives as null
      return;
    case PgConversion::kGuid:
      v.SetText(t, ValueKind::kGuid);
      for (char& c : v.s) c = ToUpperAscii(c);
      return;
  }
}

std::pair<FieldDef, PgConversion> DescribePgColumn(Oid type, int mod, std::string name) {
  FieldDef f{std::move(name), FieldType::kString, 0};
  PgConversion conv = PgConversion::kText;
  switch (type) {
    case kInt2Oid:
      f.type = FieldType::kSmallint;
      conv = PgConversion::kInt16;
      break;
    case kInt4Oid:
      f.type = FieldType::kInteger;
      conv = PgConversion::kInt32;
      break;
    case kInt8Oid:
      f.type = FieldType::kLargeint;
      conv = PgConversion::kInt64;
      break;
    case kFloat4Oid:
      f.type = FieldType::kFloat;
      conv = PgConversion::kFloat4;
      break;
    case kFloat8Oid:
      f.type = FieldType::kFloat;
      conv = PgConversion::kFloat8;
      break;
    case kNumericOid: {
      // typmod = ((precision << 16) | scale) + 4; -1 when unconstrained.
      const int precision = mod >= 4 ? ((mod - 4) >> 16) & 0xffff : 0;
      int scale = mod >= 4 ? (mod - 4) & 0x7ff : 0;
      if (scale & 0x400) scale -= 0x800;  // negative scales (numeric(5,-2))
      if (mod < 4 || scale < 0) {
        f.type = FieldType::kFMTBcd;
        conv = PgConversion::kDecimal;
        f.size = mod < 4 ? 0 : scale;
      } else if (scale == 0 && precision < 10) {
        f.type = FieldType::kInteger;
        conv = PgConversion::kNumericInt;
      } else if (scale <= 4 && precision < 20) {
        f.type = FieldType::kBCD;
        conv = PgConversion::kCurrency;
        f.size = scale;
      } else {
        f.type = FieldType::kFMTBcd;
        conv = PgConversion::kDecimal;
        f.size = scale;
      }
      break;
    }
    case kBoolOid:
      f.type = FieldType::kBoolean;
      conv = PgConversion::kBool;
      break;
    case kDateOid:
      f.type = FieldType::kDate;
      conv = PgConversion::kDate;
      break;
    case kTimeOid:
      f.type = FieldType::kTime;
      conv = PgConversion::kTime;
      break;
    case kTimestampOid:
      f.type = FieldType::kDateTime;
      conv = PgConversion::kTimestamp;
      break;
    case kTimestampTzOid:
      f.type = FieldType::kDateTime;
      conv = PgConversion::kTimestampTz;
      break;
    case kBpcharOid:
      f.type = FieldType::kFixedChar;
      f.size = mod >= 4 ? mod - 4 : 0;
      break;
    case kVarcharOid:
      f.type = FieldType::kString;
      f.size = mod >= 4 ? mod - 4 : 0;
      break;
    case kTextOid:
      f.type = FieldType::kMemo;
      conv = PgConversion::kMemo;
      break;
    case kByteaOid:
      f.type = FieldType::kBlob;
      conv = PgConversion::kBytes;
      break;
    case kUuidOid:
      f.type = FieldType::kGuid;
      conv = PgConversion::kGuid;
      f.size = 38;
      break;
    default:
      break;  // every other type arrives as its text
  }
  return {std::move(f), conv};
}

void DescribePgResult(const PGresult* r, bool sql_ascii, std::vector<FieldDef>& fields,
                      std::vector<PgColumn>& columns) {
  const int n = PQnfields(r);
  for (int c = 0; c < n; ++c) {
    std::string name = PQfname(r, c);
    if (sql_ascii) name = SanitizeUtf8(name);
    auto [def, conv] = DescribePgColumn(PQftype(r, c), PQfmod(r, c), name);
    fields.push_back(std::move(def));
    columns.push_back({conv, std::move(name)});
  }
}

Oid PgParamType(FieldType t) {
  switch (t) {
    case FieldType::kSmallint:
    case FieldType::kShortint:
    case FieldType::kByte:
      return kInt2Oid;
    case FieldType::kInteger:
    case FieldType::kAutoInc:
    case FieldType::kWord:
      return kInt4Oid;
    case FieldType::kLargeint:
    case FieldType::kLongWord:
      return kInt8Oid;
    case FieldType::kFloat:
    case FieldType::kExtended:
      return kFloat8Oid;
    case FieldType::kSingle:
      return kFloat4Oid;
    case FieldType::kCurrency:
    case FieldType::kBCD:
    case FieldType::kFMTBcd:
      return kNumericOid;
    case FieldType::kBoolean:
      return kBoolOid;
    case FieldType::kDate:
      return kDateOid;
    case FieldType::kTime:
      return kTimeOid;
    case FieldType::kDateTime:
    case FieldType::kTimeStamp:
      return kTimestampOid;
    case FieldType::kGuid:
      return kUuidOid;
    case FieldType::kBytes:
    case FieldType::kVarBytes:
    case FieldType::kBlob:
      return kByteaOid;
    default:
      return 0;
  }
}

std::string PgParamText(const Value& v, Oid oid) {
  char buf[64];
  switch (v.kind) {
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.i);
      return std::string(buf, r.ptr);
    }
    case ValueKind::kSingle:
    case ValueKind::kDouble: {
      if (std::isnan(v.d)) return "NaN";
      if (std::isinf(v.d)) return v.d > 0 ? "Infinity" : "-Infinity";
      auto r = v.kind == ValueKind::kSingle ? std::to_chars(buf, buf + sizeof buf, float(v.d))
                                            : std::to_chars(buf, buf + sizeof buf, v.d);
      return std::string(buf, r.ptr);
    }
    case ValueKind::kCurrency:
      return CurrencyText(v.i);
    case ValueKind::kDateTime: {
      const DateTimeParts p = DecodeDateTime(v.d);
      std::string s;
      if (oid != kTimeOid) {
        AppendPadded(s, p.year < 1 ? 1 - p.year : p.year, 4);
        s += '-';
        AppendPadded(s, p.month, 2);
        s += '-';
        AppendPadded(s, p.day, 2);
      }
      if (oid != kDateOid) {
        if (!s.empty()) s += ' ';
        AppendPadded(s, p.hour, 2);
        s += ':';
        AppendPadded(s, p.minute, 2);
        s += ':';
        AppendPadded(s, p.second, 2);
        s += '.';
        AppendPadded(s, p.millisecond, 3);
      }
      if (oid != kTimeOid && p.year < 1) s += " BC";
      return s;
    }
    case ValueKind::kBoolean:
      return v.i ? "true" : "false";
    default:
      return v.s;
  }
}

}  // namespace ostrevane
