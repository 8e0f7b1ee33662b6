#include "data/db/mysql_types.h"

#include <mariadb_ctype.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/decimal_text.h"

namespace ostrevane {
namespace {

constexpr int64_t kDays1899To1970 = 25569;
constexpr unsigned kBinaryCharset = 63;

[[noreturn]] void ConversionError(const MysqlColumn& col, std::string_view text, const char* what,
                                  const char* advice = "cast it to text in the SQL") {
  throw Error(kEDatabaseError, "Column \"" + col.name + "\" holds " + std::string(what) + " \"" +
                                   CutForMessage(MysqlOneLine(text)) + "\"; " + advice);
}

template <typename T>
bool ParseNumber(std::string_view t, T& v) {
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return !t.empty() && ec == std::errc() && p == t.data() + t.size();
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

// "YYYY-MM-DD" at the start of t; zero parts are reported, not refused.
bool ParseDate(std::string_view t, size_t& i, int64_t& y, int64_t& m, int64_t& d) {
  i = 0;
  return Digits(t, i, 4, y) && i < t.size() && t[i++] == '-' && Digits(t, i, 2, m) &&
         i < t.size() && t[i++] == '-' && Digits(t, i, 2, d);
}

bool ValidDate(int64_t y, int64_t m, int64_t d) { return y >= 1 && IsCalendarDate(y, m, d); }

// "H...H:MM:SS[.ffffff]" at t[i] (hours of any width); microseconds cut to
// whole milliseconds, so that a value never rounds up into the next second.
bool ParseClock(std::string_view t, size_t& i, int64_t& micros) {
  const size_t colon = t.find(':', i);
  if (colon == std::string_view::npos || colon == i || colon - i > 3) return false;
  int64_t h, n, s;
  if (!Digits(t, i, colon - i, h) || t[i++] != ':') return false;
  if (!Digits(t, i, 2, n) || i >= t.size() || t[i++] != ':') return false;
  if (!Digits(t, i, 2, s) || n > 59 || s > 59) return false;
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
  micros = ((h * 60 + n) * 60 + s) * 1000000 + frac / 1000 * 1000;
  return true;
}

unsigned CharMaxLen(unsigned charsetnr) {
  const MARIADB_CHARSET_INFO* cs = mariadb_get_charset_by_nr(charsetnr);
  return cs && cs->char_maxlen > 0 ? cs->char_maxlen : 1;
}

void SetText(std::string_view t, ValueKind kind, Value& v) {
  // utf8mb4 arrives valid; a script may have changed the session's
  // character set, and a binary-collated expression carries raw bytes.
  if (IsValidUtf8(t))
    v.SetText(t, kind);
  else
    v.SetText(SanitizeUtf8(t), kind);
}

}  // namespace

bool MysqlIsIntegral(MysqlConversion conv) {
  using C = MysqlConversion;
  return conv == C::kInt16 || conv == C::kInt32 || conv == C::kInt64 || conv == C::kUInt64 ||
         conv == C::kBool || conv == C::kBit1 || conv == C::kBits || conv == C::kYear;
}

bool MysqlIsFloating(MysqlConversion conv) {
  return conv == MysqlConversion::kFloat4 || conv == MysqlConversion::kFloat8;
}

std::string MysqlOneLine(std::string_view text) {
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

std::pair<FieldDef, MysqlConversion> DescribeMysqlColumn(const MYSQL_FIELD& field) {
  using C = MysqlConversion;
  FieldDef f{std::string(field.name, field.name_length), FieldType::kString, 0};
  C conv = C::kText;
  const bool is_unsigned = field.flags & UNSIGNED_FLAG;
  const bool binary = field.charsetnr == kBinaryCharset;
  switch (field.type) {
    case MYSQL_TYPE_TINY:
      if (field.length == 1) {  // TINYINT(1), the usual BOOLEAN
        f.type = FieldType::kBoolean;
        conv = C::kBool;
      } else {
        f.type = is_unsigned ? FieldType::kWord : FieldType::kSmallint;
        conv = C::kInt16;
      }
      break;
    case MYSQL_TYPE_SHORT:
      f.type = is_unsigned ? FieldType::kWord : FieldType::kSmallint;
      conv = is_unsigned ? C::kInt32 : C::kInt16;
      break;
    case MYSQL_TYPE_INT24:
      f.type = FieldType::kInteger;
      conv = C::kInt32;
      break;
    case MYSQL_TYPE_LONG:
      f.type = is_unsigned ? FieldType::kLongWord : FieldType::kInteger;
      conv = is_unsigned ? C::kInt64 : C::kInt32;
      break;
    case MYSQL_TYPE_LONGLONG:
      if (is_unsigned) {
        // Values beyond the signed range must stay exact: the column is an
        // exact decimal of scale 0, as a numeric(20) would be.
        f.type = FieldType::kFMTBcd;
        conv = C::kUInt64;
      } else {
        f.type = FieldType::kLargeint;
        conv = C::kInt64;
      }
      break;
    case MYSQL_TYPE_FLOAT:
      f.type = FieldType::kFloat;
      conv = C::kFloat4;
      break;
    case MYSQL_TYPE_DOUBLE:
      f.type = FieldType::kFloat;
      conv = C::kFloat8;
      break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: {
      // The display length counts the sign and the point.
      const int scale = int(field.decimals);
      const int precision =
          int(field.length) - (scale > 0 ? 1 : 0) - (is_unsigned ? 0 : 1);
      if (scale == 0 && precision < 10) {
        f.type = FieldType::kInteger;
        conv = C::kNumericInt;
      } else if (scale <= 4 && precision < 20) {
        f.type = FieldType::kBCD;
        conv = C::kCurrency;
        f.size = scale;
      } else {
        f.type = FieldType::kFMTBcd;
        conv = C::kDecimal;
        f.size = scale;
      }
      break;
    }
    case MYSQL_TYPE_BIT:
      if (field.length == 1) {
        f.type = FieldType::kBoolean;
        conv = C::kBit1;
      } else {
        f.type = FieldType::kLargeint;
        conv = C::kBits;
      }
      break;
    case MYSQL_TYPE_YEAR:
      f.type = FieldType::kSmallint;
      conv = C::kYear;
      break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      f.type = FieldType::kDate;
      conv = C::kDate;
      break;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
      f.type = FieldType::kTime;
      conv = C::kTime;
      break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
      f.type = FieldType::kDateTime;
      conv = C::kDateTime;
      break;
    case MYSQL_TYPE_STRING:  // CHAR, BINARY, ENUM, SET
      if (binary) {
        f.type = FieldType::kBytes;
        conv = C::kBytes;
        f.size = int64_t(field.length);
      } else {
        const bool listed = field.flags & (ENUM_FLAG | SET_FLAG);
        f.type = listed ? FieldType::kString : FieldType::kFixedChar;
        f.size = int64_t(field.length / CharMaxLen(field.charsetnr));
      }
      break;
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
      if (binary) {
        f.type = FieldType::kVarBytes;
        conv = C::kBytes;
        f.size = int64_t(field.length);
      } else {
        f.size = int64_t(field.length / CharMaxLen(field.charsetnr));
      }
      break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_GEOMETRY:
      if (binary) {
        f.type = FieldType::kBlob;
        conv = C::kBlob;
      } else {
        f.type = FieldType::kMemo;
        conv = C::kMemo;
      }
      break;
    case MYSQL_TYPE_JSON:
      f.type = FieldType::kMemo;
      conv = C::kMemo;
      break;
    default:
      break;  // NULL-typed expressions and anything newer arrive as text
  }
  return {std::move(f), conv};
}

void ConvertMysqlInteger(const MysqlColumn& col, uint64_t bits, Value& v) {
  using C = MysqlConversion;
  switch (col.conv) {
    case C::kBool:
    case C::kBit1:
      v.SetBoolean(bits != 0);
      return;
    case C::kInt16:
    case C::kYear:
      v.SetInteger(int64_t(bits), ValueKind::kInt16);
      return;
    case C::kInt32:
      v.SetInteger(int64_t(bits), ValueKind::kInt32);
      return;
    case C::kUInt64: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, bits);
      v.SetText(std::string_view(buf, size_t(r.ptr - buf)), ValueKind::kDecimal);
      return;
    }
    case C::kBits:
      if (bits > uint64_t(std::numeric_limits<int64_t>::max()))
        ConversionError(col, std::to_string(bits), "the number",
                        "select it as CAST(col AS DECIMAL(20))");
      v.SetInteger(int64_t(bits), ValueKind::kInt64);
      return;
    default:
      v.SetInteger(int64_t(bits), ValueKind::kInt64);
      return;
  }
}

void ConvertMysqlText(const MysqlColumn& col, const char* data, size_t len, Value& v) {
  using C = MysqlConversion;
  if (!data) {
    if (col.conv == C::kMemo)
      v.SetText({});
    else
      v.SetNull();
    return;
  }
  std::string_view t(data, len);
  switch (col.conv) {
    case C::kInt16:
    case C::kInt32:
    case C::kInt64:
    case C::kNumericInt:
    case C::kYear:
    case C::kBool: {
      int64_t n;
      if (!ParseNumber(t, n)) ConversionError(col, t, "the number");
      if (col.conv == C::kBool) {
        v.SetBoolean(n != 0);
        return;
      }
      v.SetInteger(n, col.conv == C::kInt16 || col.conv == C::kYear ? ValueKind::kInt16
                      : col.conv == C::kInt64                       ? ValueKind::kInt64
                                                                    : ValueKind::kInt32);
      return;
    }
    case C::kUInt64: {
      uint64_t n;
      if (!ParseNumber(t, n)) ConversionError(col, t, "the number");
      ConvertMysqlInteger(col, n, v);
      return;
    }
    case C::kBit1:
    case C::kBits: {
      uint64_t n = 0;
      for (unsigned char c : t) n = n << 8 | c;
      ConvertMysqlInteger(col, n, v);
      return;
    }
    case C::kFloat4:
    case C::kFloat8: {
      double f;
      if (!ParseNumber(t, f)) ConversionError(col, t, "the number");
      v.SetDouble(col.conv == C::kFloat4 ? double(float(f)) : f);
      return;
    }
    case C::kCurrency: {
      std::optional<int64_t> c = ParseCurrency(t);
      if (!c) ConversionError(col, t, "a value outside the currency range:");
      v.SetCurrency(*c);
      return;
    }
    case C::kDecimal: {
      std::optional<std::string> d = NormalizeDecimal(t);
      if (!d) ConversionError(col, t, "the value");
      v.SetText(*d, ValueKind::kDecimal);
      return;
    }
    case C::kDate:
    case C::kDateTime: {
      size_t i;
      int64_t y, m, d, micros = 0;
      bool ok = ParseDate(t, i, y, m, d);
      if (ok && col.conv == C::kDateTime)
        ok = i < t.size() && t[i++] == ' ' && ParseClock(t, i, micros) &&
             micros < int64_t(86400) * 1000000;
      if (!ok || i != t.size()) ConversionError(col, t, "the date");
      if (!ValidDate(y, m, d))
        ConversionError(col, t, "the zero or incomplete date",
                        "select NULLIF(col, 0) to export it as NULL, or cast it to text");
      v.SetDateTime(DateTimeFromDays(DaysFromCivil(y, unsigned(m), unsigned(d)), micros));
      return;
    }
    case C::kTime: {
      size_t i = 0;
      int64_t micros;
      if (t.empty() || t[0] == '-' || !ParseClock(t, i, micros) || i != t.size() ||
          micros >= int64_t(86400) * 1000000)
        ConversionError(col, t, "the time outside 00:00-23:59");
      v.SetDateTime(DateTimeFromDays(-kDays1899To1970, micros));
      return;
    }
    case C::kText:
    case C::kMemo:
      SetText(t, ValueKind::kText, v);
      return;
    case C::kBytes:
      v.SetText(t, ValueKind::kBytes);
      return;
    case C::kBlob:
      if (t.empty())
        v.SetNull();
      else
        v.SetText(t, ValueKind::kBytes);
      return;
  }
}

MysqlParam MakeMysqlParam(const BoundParam& p) {
  MysqlParam out;
  if (!p.value || p.value->IsNull()) return out;  // MYSQL_TYPE_NULL
  const Value& v = *p.value;
  switch (v.kind) {
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64:
    case ValueKind::kBoolean:
      out.type = MYSQL_TYPE_LONGLONG;
      out.integer = v.i;
      return out;
    case ValueKind::kSingle:
    case ValueKind::kDouble:
      out.type = MYSQL_TYPE_DOUBLE;
      out.floating = v.d;
      return out;
    case ValueKind::kCurrency: {
      out.text = CurrencyText(v.i);
      out.type = MYSQL_TYPE_NEWDECIMAL;
      return out;
    }
    case ValueKind::kDecimal:
      out.type = MYSQL_TYPE_NEWDECIMAL;
      out.text = v.s;
      return out;
    case ValueKind::kDateTime: {
      const DateTimeParts d = DecodeDateTime(v.d);
      MYSQL_TIME& t = out.time;
      const bool time_only = p.type == FieldType::kTime;
      const bool date_only = p.type == FieldType::kDate;
      if (!time_only) {
        t.year = unsigned(d.year);
        t.month = unsigned(d.month);
        t.day = unsigned(d.day);
      }
      if (!date_only) {
        t.hour = unsigned(d.hour);
        t.minute = unsigned(d.minute);
        t.second = unsigned(d.second);
        t.second_part = static_cast<unsigned long>(d.millisecond) * 1000;
      }
      t.time_type = time_only   ? MYSQL_TIMESTAMP_TIME
                    : date_only ? MYSQL_TIMESTAMP_DATE
                                : MYSQL_TIMESTAMP_DATETIME;
      out.type = time_only   ? MYSQL_TYPE_TIME
                 : date_only ? MYSQL_TYPE_DATE
                             : MYSQL_TYPE_DATETIME;
      return out;
    }
    case ValueKind::kBytes:
      out.type = MYSQL_TYPE_BLOB;
      out.text = v.s;
      return out;
    default:
      out.type = MYSQL_TYPE_STRING;
      out.text = v.s;
      return out;
  }
}

}  // namespace ostrevane
