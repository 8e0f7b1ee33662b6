#include "data/db/odbc_columns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/datetime.h"
#include "data/db/decimal_text.h"

namespace ostrevane::odbc {
namespace {

DateTime ToDateTime(int64_t y, int64_t m, int64_t d, int64_t micros_of_day) {
  return DateTimeFromDays(DaysFromCivil(y, unsigned(m), unsigned(d)), micros_of_day);
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
  Column c{Conv::kText, ValueKind::kInt32, f.name};
  const int64_t char_size = int64_t(size);
  switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
      f.type = is_unsigned == SQL_TRUE ? FieldType::kWord : FieldType::kSmallint;
      c = {Conv::kInt, is_unsigned == SQL_TRUE ? ValueKind::kInt32 : ValueKind::kInt16, f.name};
      break;
    case SQL_INTEGER:
      f.type = is_unsigned == SQL_TRUE ? FieldType::kLongWord : FieldType::kInteger;
      c = {Conv::kInt, is_unsigned == SQL_TRUE ? ValueKind::kInt64 : ValueKind::kInt32, f.name};
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
      c = {Conv::kInt, ValueKind::kInt64, f.name};
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
        c = {Conv::kInt, ValueKind::kInt32, f.name};
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
      f.type = FieldType::kBytes;
      c.conv = Conv::kBinary;
      f.size = char_size;
      break;
    case SQL_VARBINARY:
      f.type = FieldType::kVarBytes;
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
      break;
  }
  return {std::move(f), std::move(c)};
}
void ColumnReader::Read(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s,
                        Value& v) {
  SQLLEN ind = 0;
  SQLRETURN rc;
  switch (col.conv) {
    case Conv::kInt: {
      SQLBIGINT n = 0;
      rc = SQLGetData(stmt, index, SQL_C_SBIGINT, &n, 0, &ind);
      Check(rc, stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetInteger(n, col.int_kind);
    }
    case Conv::kUnsigned64: {
      SQLUBIGINT n = 0;
      Check(SQLGetData(stmt, index, SQL_C_UBIGINT, &n, 0, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, uint64_t(n)).ptr;
      return v.SetText(std::string_view(digits, size_t(end - digits)), ValueKind::kDecimal);
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
      return v.SetDateTime(ToDateTime(d.year, d.month, d.day, 0));
    }
    case Conv::kTime: {
      SQL_TIME_STRUCT t{};
      Check(SQLGetData(stmt, index, SQL_C_TYPE_TIME, &t, sizeof t, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      return v.SetDateTime(
          ToDateTime(1899, 12, 30, ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000));
    }
    case Conv::kTimestamp: {
      SQL_TIMESTAMP_STRUCT t{};
      Check(SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      // The fraction (nanoseconds) is cut to whole milliseconds, the
      // precision of a date-time value, so that 23:59:59.999999 stays in
      // its second and day instead of being rounded into the next.
      const int64_t micros = ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000 +
                             int64_t(t.fraction / 1000000) * 1000;
      return v.SetDateTime(ToDateTime(t.year, t.month, t.day, micros));
    }
    case Conv::kCurrency:
    case Conv::kDecimal: {
      char buf[128];
      Check(SQLGetData(stmt, index, SQL_C_CHAR, buf, sizeof buf, &ind), stmt, s);
      if (ind == SQL_NULL_DATA) return v.SetNull();
      std::string_view t(buf, std::strlen(buf));
      if (col.conv == Conv::kCurrency) {
        std::optional<int64_t> c = ParseCurrency(t);
        if (!c)
          s.Fail("Column \"" + col.name + "\" holds \"" + std::string(t) +
                 "\", outside the currency range");
        return v.SetCurrency(*c);
      }
      std::optional<std::string> d = NormalizeDecimal(t);
      if (!d)
        s.Fail("Column \"" + col.name + "\" holds \"" + std::string(t) +
               "\", which is no decimal number");
      return v.SetText(*d, ValueKind::kDecimal);
    }
    case Conv::kText:
    case Conv::kMemo:
    case Conv::kGuid:
      if (!(s.wide ? ReadWide(stmt, index, s) : ReadNarrow(stmt, index, s))) {
        if (col.conv == Conv::kMemo)
          return v.SetText({});  // a null long text arrives as empty text
        return v.SetNull();
      }
      v.SetText(s.wide ? Utf16ToUtf8(wide_) : SanitizeUtf8(narrow_),
                col.conv == Conv::kGuid ? ValueKind::kGuid : ValueKind::kText);
      if (col.conv == Conv::kGuid) {
        for (char& ch : v.s) ch = ToUpperAscii(ch);
        if (v.s.size() == 38 && v.s.front() == '{' && v.s.back() == '}') v.s = v.s.substr(1, 36);
      }
      return;
    case Conv::kBinary:
    case Conv::kLongBinary:
      if (!ReadBinary(stmt, index, s, v.s)) return v.SetNull();
      v.kind = ValueKind::kBytes;
      if (col.conv == Conv::kLongBinary && v.s.empty()) v.SetNull();  // empty arrives as null
      return;
  }
}

void ColumnReader::Check(SQLRETURN rc, SQLHSTMT stmt, const Session& s) {
  if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
}

namespace {

// Reads a text value into `out` straight from the driver: the first call
// offers a small buffer (a large one costs every cell, some drivers fill
// it), a truncated value grows it to the length the driver reports and the
// rest is read behind what arrived. Each chunk ends with a NUL character;
// false for null.
template <typename Text>
bool ReadText(SQLHSTMT stmt, SQLUSMALLINT index, SQLSMALLINT c_type, const Session& s,
              Text& out) {
  using Char = typename Text::value_type;
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
                      (ind == SQL_NO_TOTAL || size_t(ind) >= room * sizeof(Char));
    if (!more) {
      out.resize(have + size_t(ind) / sizeof(Char));
      return true;
    }
    have += room - 1;
    const size_t rest = ind == SQL_NO_TOTAL ? out.size() : size_t(ind) / sizeof(Char) - (room - 1);
    out.resize(have + rest + 1);
  }
}

}  // namespace

// Reads a text value into wide_; false for null.
bool ColumnReader::ReadWide(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
  return ReadText(stmt, index, SQL_C_WCHAR, s, wide_);
}

// Reads a text value into narrow_; false for null.
bool ColumnReader::ReadNarrow(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
  return ReadText(stmt, index, SQL_C_CHAR, s, narrow_);
}

bool ColumnReader::ReadBinary(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s,
                              std::string& out) {
  out.clear();
  char buf[16384];
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, index, SQL_C_BINARY, buf, sizeof buf, &ind);
    if (rc == SQL_NO_DATA) return true;
    Check(rc, stmt, s);
    if (ind == SQL_NULL_DATA) return false;
    const bool more =
        rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || size_t(ind) > sizeof buf);
    out.append(buf, more ? sizeof buf : size_t(ind));
    if (!more) return true;
  }
}
}  // namespace ostrevane::odbc
