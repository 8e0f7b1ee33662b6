#include "data/db/odbc_columns.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/decimal_text.h"

namespace ostrevane::odbc {
namespace {

[[noreturn]] void ValueError(const Column& col, const std::string& what, const char* advice) {
  throw Error(kEDatabaseError, "Column \"" + col.name + "\" holds " + what + "; " + advice);
}

std::string Padded(int64_t n, int width) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
  return (n < 0 ? "-" : "") + digits;
}

std::string DateText(int64_t y, int64_t m, int64_t d) {
  return Padded(y, 4) + "-" + Padded(m, 2) + "-" + Padded(d, 2);
}

std::string TimeText(int64_t h, int64_t n, int64_t s) {
  return Padded(h, 2) + ":" + Padded(n, 2) + ":" + Padded(s, 2);
}

constexpr char kDateAdvice[] =
    "cast it to text in the SQL, or select NULL in its place (MySQL: NULLIF(col, 0) for zero "
    "dates)";

bool IsClock(int64_t h, int64_t n, int64_t s) {
  return h >= 0 && h < 24 && n >= 0 && n < 60 && s >= 0 && s < 60;
}

void CheckDate(const Column& col, int64_t y, int64_t m, int64_t d) {
  if (!IsCalendarDate(y, m, d))
    ValueError(col, "the date \"" + DateText(y, m, d) + "\", which is no day of the calendar",
               kDateAdvice);
}

// Whether a binary column is MySQL's BIT type, by the name its driver gives.
bool IsMysqlBit(SQLHSTMT stmt, SQLUSMALLINT index) {
  char name[64] = {};
  SQLSMALLINT len = 0;
  return Ok(SQLColAttribute(stmt, index, SQL_DESC_TYPE_NAME, name, sizeof name, &len, nullptr)) &&
         IEquals(name, "bit");
}

}  // namespace

std::pair<FieldDef, Column> DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
  SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  std::string column_name;
  if (s.wide) {
    SQLWCHAR name[512];
    if (!Ok(SQLDescribeColW(stmt, index, name, SQLSMALLINT(std::size(name)), &name_len, &type,
                            &size, &digits, &nullable)))
      s.Fail(SQL_HANDLE_STMT, stmt);
    column_name = Narrow(name, size_t(std::clamp<int>(name_len, 0, int(std::size(name)) - 1)));
  } else {
    SQLCHAR name[1024];
    if (!Ok(SQLDescribeCol(stmt, index, name, SQLSMALLINT(std::size(name)), &name_len, &type, &size,
                           &digits, &nullable)))
      s.Fail(SQL_HANDLE_STMT, stmt);
    column_name = SanitizeUtf8(
        std::string_view(reinterpret_cast<char*>(name),
                         size_t(std::clamp<int>(name_len, 0, int(std::size(name)) - 1))));
  }
  SQLLEN is_unsigned = SQL_FALSE;
  SQLColAttribute(stmt, index, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &is_unsigned);
  FieldDef f{std::move(column_name), s.wide ? FieldType::kWideString : FieldType::kString, 0};
  const int64_t char_size = size < (SQLULEN(1) << 40) ? int64_t(size) : 0;
  Column c{Conv::kText, ValueKind::kInt32, f.name, char_size};
  switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
      f.type = is_unsigned == SQL_TRUE ? FieldType::kWord : FieldType::kSmallint;
      c.conv = Conv::kInt;
      c.int_kind = is_unsigned == SQL_TRUE ? ValueKind::kInt32 : ValueKind::kInt16;
      break;
    case SQL_INTEGER:
      f.type = is_unsigned == SQL_TRUE ? FieldType::kLongWord : FieldType::kInteger;
      c.conv = Conv::kInt;
      c.int_kind = is_unsigned == SQL_TRUE ? ValueKind::kInt64 : ValueKind::kInt32;
      break;
    case SQL_BIGINT:
      if (is_unsigned == SQL_TRUE) {
        // Values above the signed range have no 64-bit integer field: the
        // column is an exact decimal of scale 0, like a big NUMERIC.
        f.type = FieldType::kFMTBcd;
        c.conv = Conv::kUnsigned64;
        break;
      }
      f.type = FieldType::kLargeint;
      c.conv = Conv::kInt;
      c.int_kind = ValueKind::kInt64;
      break;
    case SQL_REAL:
      f.type = FieldType::kFloat;
      c.conv = Conv::kReal;
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      f.type = FieldType::kFloat;
      c.conv = Conv::kDouble;
      break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (digits == 0 && size < 10) {
        f.type = FieldType::kInteger;
        c.conv = Conv::kInt;
      } else if (digits >= 0 && digits <= 4 && size < 20) {
        f.type = FieldType::kBCD;
        c.conv = Conv::kCurrency;
        f.size = digits;
      } else {
        f.type = FieldType::kFMTBcd;
        c.conv = Conv::kDecimal;
        f.size = digits;
      }
      break;
    case SQL_CHAR:
      f.type = FieldType::kFixedChar;
      f.size = char_size;
      break;
    case SQL_VARCHAR:
      f.type = FieldType::kString;
      f.size = char_size;
      break;
    case SQL_LONGVARCHAR:
      f.type = FieldType::kMemo;
      c.conv = Conv::kMemo;
      break;
    case SQL_WCHAR:
      f.type = FieldType::kFixedWideChar;
      f.size = char_size;
      break;
    case SQL_WVARCHAR:
      f.type = FieldType::kWideString;
      f.size = char_size;
      break;
    case SQL_WLONGVARCHAR:
      f.type = FieldType::kWideMemo;
      c.conv = Conv::kMemo;
      break;
    case SQL_BIT:
      f.type = FieldType::kBoolean;
      c.conv = Conv::kBit;
      break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      f.type = FieldType::kDate;
      c.conv = Conv::kDate;
      break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      f.type = FieldType::kTime;
      c.conv = Conv::kTime;
      break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      f.type = FieldType::kDateTime;
      c.conv = Conv::kTimestamp;
      break;
    case SQL_BINARY:
    case SQL_VARBINARY:
      if (s.dialect == SqlDialect::kMysql && IsMysqlBit(stmt, index) && char_size <= 64) {
        // BIT(n): MySQL's driver delivers the bits as bytes; they are the
        // number the native backend makes of them.
        f.type = FieldType::kLargeint;
        c.conv = Conv::kBits;
        break;
      }
      f.type = type == SQL_BINARY ? FieldType::kBytes : FieldType::kVarBytes;
      c.conv = Conv::kBinary;
      f.size = char_size;
      break;
    case SQL_LONGVARBINARY:
      f.type = FieldType::kBlob;
      c.conv = Conv::kLongBinary;
      break;
    case SQL_GUID:
      f.type = FieldType::kGuid;
      c.conv = Conv::kGuid;
      f.size = 38;
      break;
    default:
      // Intervals and driver-specific types arrive as their text.
      f.size = char_size > 0 && char_size < (1 << 30) ? char_size : 0;
      c.size = f.size;
      break;
  }
  return {std::move(f), std::move(c)};
}

void SetDate(const Column& col, const SQL_DATE_STRUCT& d, Value& v) {
  CheckDate(col, d.year, d.month, d.day);
  v.SetDateTime(DateTimeFromDays(DaysFromCivil(d.year, d.month, d.day), 0));
}

void SetTime(const Column& col, const SQL_TIME_STRUCT& t, Value& v) {
  if (!IsClock(t.hour, t.minute, t.second))
    ValueError(col, "the time \"" + TimeText(t.hour, t.minute, t.second) + "\" outside 00:00-23:59",
               "cast it to text in the SQL");
  v.SetDateTime(DateTimeFromDays(DaysFromCivil(1899, 12, 30),
                                 ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000));
}

void SetTimestamp(const Column& col, const SQL_TIMESTAMP_STRUCT& t, Value& v) {
  CheckDate(col, t.year, t.month, t.day);
  if (!IsClock(t.hour, t.minute, t.second) || t.fraction >= 1000000000)
    ValueError(col,
               "the time stamp \"" + DateText(t.year, t.month, t.day) + " " +
                   TimeText(t.hour, t.minute, t.second) + "\" with no such time of day",
               "cast it to text in the SQL");
  // The fraction (nanoseconds) is cut to whole milliseconds, the precision
  // of a date-time value, so that 23:59:59.999999 stays in its second and
  // day instead of being rounded into the next.
  const int64_t micros = ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000 +
                         int64_t(t.fraction / 1000000) * 1000;
  v.SetDateTime(DateTimeFromDays(DaysFromCivil(t.year, t.month, t.day), micros));
}

void SetUnsigned64(SQLUBIGINT n, Value& v) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, uint64_t(n)).ptr;
  v.SetText(std::string_view(digits, size_t(end - digits)), ValueKind::kDecimal);
}

void SetNumberText(const Column& col, std::string_view t, Value& v) {
  if (col.conv == Conv::kCurrency) {
    std::optional<int64_t> c = ParseCurrency(t);
    if (!c)
      ValueError(col, "\"" + CutForMessage(std::string(t)) + "\", outside the currency range",
                 "cast it to text in the SQL");
    return v.SetCurrency(*c);
  }
  std::optional<std::string> d = NormalizeDecimal(t);
  if (!d)
    ValueError(col, "\"" + CutForMessage(std::string(t)) + "\", which is no decimal number",
               "cast it to text in the SQL");
  v.SetText(*d, ValueKind::kDecimal);
}

void SetBits(const Column& col, std::string_view bytes, Value& v) {
  uint64_t n = 0;
  for (unsigned char b : bytes) n = n << 8 | b;
  if (bytes.size() > 8 || n > uint64_t(std::numeric_limits<int64_t>::max()))
    ValueError(col, "the number " + std::to_string(n) + ", beyond the 64-bit integers",
               "select it as CAST(col AS DECIMAL(20))");
  v.SetInteger(int64_t(n), ValueKind::kInt64);
}

namespace {

// A GUID as upper-case text without braces.
void FinishGuid(Value& v) {
  for (char& ch : v.s) ch = ToUpperAscii(ch);
  if (v.s.size() == 38 && v.s.front() == '{' && v.s.back() == '}') v.s = v.s.substr(1, 36);
}

ValueKind TextKind(const Column& col) {
  return col.conv == Conv::kGuid ? ValueKind::kGuid : ValueKind::kText;
}

}  // namespace

void SetUtf8Text(const Column& col, std::string_view utf8, Value& v) {
  v.kind = TextKind(col);
  AssignSanitizedUtf8(v.s, utf8);
  if (col.conv == Conv::kGuid) FinishGuid(v);
}

void SetUtf16Text(const Column& col, std::u16string_view text, Value& v) {
  v.kind = TextKind(col);
  AssignUtf16AsUtf8(v.s, text);
  if (col.conv == Conv::kGuid) FinishGuid(v);
}

namespace {

// Reads a value into `out` straight from the driver: the first call offers
// a small buffer (a large one costs every cell, some drivers fill it), a
// value that did not fit grows it to the length the driver reports and the
// rest is read behind what arrived. Text chunks end with a NUL character,
// binary ones do not; false for null.
template <typename Buffer>
bool ReadWhole(SQLHSTMT stmt, SQLUSMALLINT index, SQLSMALLINT c_type, const Session& s,
               Buffer& out) {
  using Char = typename Buffer::value_type;
  const size_t nul = c_type == SQL_C_BINARY ? 0 : 1;  // characters
  constexpr size_t kFirstChars = 256;
  out.resize(kFirstChars);
  size_t have = 0;  // characters read
  for (;;) {
    const size_t room = out.size() - have;  // characters, the NUL included
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, index, c_type, out.data() + have, SQLLEN(room * sizeof(Char)),
                              &ind);
    if (rc == SQL_NO_DATA) {
      out.resize(have);
      return true;
    }
    if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
    if (ind == SQL_NULL_DATA) {
      out.clear();
      return false;
    }
    const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                      (ind == SQL_NO_TOTAL || size_t(ind) > (room - nul) * sizeof(Char));
    if (!more) {
      out.resize(have + size_t(ind) / sizeof(Char));
      return true;
    }
    have += room - nul;
    const size_t rest =
        ind == SQL_NO_TOTAL ? out.size() : size_t(ind) / sizeof(Char) - (room - nul);
    out.resize(have + rest + nul);
  }
}

}  // namespace

void ColumnReader::Read(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s,
                        Value& v) {
  SQLLEN ind = 0;
  switch (col.conv) {
    case Conv::kInt: {
      SQLBIGINT n = 0;
      Check(SQLGetData(stmt, index, SQL_C_SBIGINT, &n, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetInteger(n, col.int_kind);
    }
    case Conv::kUnsigned64: {
      SQLUBIGINT n = 0;
      Check(SQLGetData(stmt, index, SQL_C_UBIGINT, &n, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return SetUnsigned64(n, v);
    }
    case Conv::kReal: {
      SQLREAL f = 0;
      Check(SQLGetData(stmt, index, SQL_C_FLOAT, &f, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetDouble(double(f));
    }
    case Conv::kDouble: {
      SQLDOUBLE f = 0;
      Check(SQLGetData(stmt, index, SQL_C_DOUBLE, &f, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetDouble(f);
    }
    case Conv::kBit: {
      unsigned char b = 0;
      Check(SQLGetData(stmt, index, SQL_C_BIT, &b, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetBoolean(b != 0);
    }
    case Conv::kDate: {
      SQL_DATE_STRUCT d{};
      Check(SQLGetData(stmt, index, SQL_C_TYPE_DATE, &d, sizeof d, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return SetDate(col, d, v);
    }
    case Conv::kTime: {
      SQL_TIME_STRUCT t{};
      Check(SQLGetData(stmt, index, SQL_C_TYPE_TIME, &t, sizeof t, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return SetTime(col, t, v);
    }
    case Conv::kTimestamp: {
      SQL_TIMESTAMP_STRUCT t{};
      Check(SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return SetTimestamp(col, t, v);
    }
    case Conv::kCurrency:
    case Conv::kDecimal:
      // Digits are ASCII in either width; a long one is read whole.
      if (!ReadWhole(stmt, index, SQL_C_CHAR, s, narrow_)) return v.SetNull();
      return SetNumberText(col, narrow_, v);
    case Conv::kBits:
      if (!ReadWhole(stmt, index, SQL_C_BINARY, s, narrow_)) return v.SetNull();
      return SetBits(col, narrow_, v);
    case Conv::kText:
    case Conv::kMemo:
    case Conv::kGuid: {
      const bool got = s.narrow_results ? ReadWhole(stmt, index, SQL_C_CHAR, s, narrow_)
                                        : ReadWhole(stmt, index, SQL_C_WCHAR, s, wide_);
      if (!got) {
        if (col.conv == Conv::kMemo) return v.SetText({});  // a null long text arrives as empty text
        return v.SetNull();
      }
      if (s.narrow_results) return SetUtf8Text(col, narrow_, v);
      return SetUtf16Text(col, wide_, v);
    }
    case Conv::kBinary:
    case Conv::kLongBinary:
      if (!ReadWhole(stmt, index, SQL_C_BINARY, s, v.s)) return v.SetNull();
      v.kind = ValueKind::kBytes;
      if (col.conv == Conv::kLongBinary && v.s.empty()) v.SetNull();  // empty arrives as null
      return;
  }
}

void ColumnReader::ReadAgain(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col,
                             const Session& s, std::string_view start, Value& v) {
  bool same = false;
  switch (col.conv) {
    case Conv::kCurrency:
    case Conv::kDecimal:
      same = ReadWhole(stmt, index, SQL_C_CHAR, s, narrow_) && narrow_.starts_with(start);
      if (same) SetNumberText(col, narrow_, v);
      break;
    case Conv::kText:
    case Conv::kMemo:
    case Conv::kGuid:
      if (s.narrow_results) {
        same = ReadWhole(stmt, index, SQL_C_CHAR, s, narrow_) && narrow_.starts_with(start);
        if (same) SetUtf8Text(col, narrow_, v);
      } else {
        same = ReadWhole(stmt, index, SQL_C_WCHAR, s, wide_) &&
               std::string_view(reinterpret_cast<const char*>(wide_.data()),
                                wide_.size() * sizeof(char16_t))
                   .starts_with(start);
        if (same) SetUtf16Text(col, wide_, v);
      }
      break;
    case Conv::kBinary:
    case Conv::kLongBinary:
      same = ReadWhole(stmt, index, SQL_C_BINARY, s, v.s) && v.s.starts_with(start);
      v.kind = ValueKind::kBytes;
      break;
    default:
      break;
  }
  if (!same)
    s.Fail("Column \"" + col.name +
           "\": the ODBC driver delivered another value when a value longer than its buffer "
           "was read again; the result cannot be read safely");
}

void ColumnReader::Check(SQLRETURN rc, SQLHSTMT stmt, const Session& s) {
  if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
}

}  // namespace ostrevane::odbc
