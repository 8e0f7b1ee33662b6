#include "data/db/odbc_params.h"

#include <algorithm>

#include "common/datetime.h"
#include "data/db/decimal_text.h"

namespace ostrevane::odbc {
namespace {

SQLSMALLINT SqlTypeOf(FieldType t) {
  switch (t) {
    case FieldType::kSmallint:
    case FieldType::kShortint:
    case FieldType::kByte:
      return SQL_SMALLINT;
    case FieldType::kInteger:
    case FieldType::kAutoInc:
    case FieldType::kWord:
      return SQL_INTEGER;
    case FieldType::kLargeint:
    case FieldType::kLongWord:
      return SQL_BIGINT;
    case FieldType::kFloat:
    case FieldType::kExtended:
    case FieldType::kSingle:
      return SQL_DOUBLE;
    case FieldType::kCurrency:
    case FieldType::kBCD:
    case FieldType::kFMTBcd:
      return SQL_DECIMAL;
    case FieldType::kBoolean:
      return SQL_BIT;
    case FieldType::kDate:
      return SQL_TYPE_DATE;
    case FieldType::kTime:
      return SQL_TYPE_TIME;
    case FieldType::kDateTime:
    case FieldType::kTimeStamp:
      return SQL_TYPE_TIMESTAMP;
    case FieldType::kFixedChar:
      return SQL_CHAR;
    case FieldType::kString:
      return SQL_VARCHAR;
    case FieldType::kMemo:
      return SQL_LONGVARCHAR;
    case FieldType::kFixedWideChar:
      return SQL_WCHAR;
    case FieldType::kWideString:
      return SQL_WVARCHAR;
    case FieldType::kWideMemo:
      return SQL_WLONGVARCHAR;
    case FieldType::kGuid:
      return SQL_GUID;
    case FieldType::kBytes:
      return SQL_BINARY;
    case FieldType::kVarBytes:
      return SQL_VARBINARY;
    case FieldType::kBlob:
      return SQL_LONGVARBINARY;
    default:
      return 0;
  }
}

}  // namespace

void BindParam(SQLHSTMT stmt, SQLUSMALLINT n, const BoundParam& p, BoundBuffer& b,
               const Session& s) {
  const SQLSMALLINT typed = SqlTypeOf(p.type);
  SQLSMALLINT ctype = SQL_C_WCHAR;
  SQLSMALLINT sqltype = typed ? typed : SQLSMALLINT(s.wide ? SQL_WVARCHAR : SQL_VARCHAR);
  SQLULEN size = 1;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN len = 0;
  const Value* v = p.value;
  if (!v || v->IsNull()) {
    b.ind = SQL_NULL_DATA;
    if (!typed) sqltype = SQL_VARCHAR;
    ctype = SQL_C_CHAR;
  } else {
    switch (v->kind) {
      case ValueKind::kInt16:
      case ValueKind::kInt32:
      case ValueKind::kInt64:
        b.integer = v->i;
        ctype = SQL_C_SBIGINT, data = &b.integer, b.ind = sizeof b.integer;
        if (!typed) sqltype = SQL_BIGINT;
        size = 19;
        break;
      case ValueKind::kSingle:
      case ValueKind::kDouble:
        b.real = v->d;
        ctype = SQL_C_DOUBLE, data = &b.real, b.ind = sizeof b.real;
        if (!typed) sqltype = SQL_DOUBLE;
        size = 15;
        break;
      case ValueKind::kBoolean:
        b.bit = v->i ? 1 : 0;
        ctype = SQL_C_BIT, data = &b.bit, b.ind = 1;
        if (!typed) sqltype = SQL_BIT;
        break;
      case ValueKind::kDateTime: {
        const DateTimeParts t = DecodeDateTime(v->d);
        if (typed == SQL_TYPE_DATE) {
          b.date = {SQLSMALLINT(t.year), SQLUSMALLINT(t.month), SQLUSMALLINT(t.day)};
          ctype = SQL_C_TYPE_DATE, data = &b.date, b.ind = sizeof b.date, size = 10;
        } else if (typed == SQL_TYPE_TIME) {
          b.time = {SQLUSMALLINT(t.hour), SQLUSMALLINT(t.minute), SQLUSMALLINT(t.second)};
          ctype = SQL_C_TYPE_TIME, data = &b.time, b.ind = sizeof b.time, size = 8;
        } else {
          b.ts = {SQLSMALLINT(t.year),
                  SQLUSMALLINT(t.month),
                  SQLUSMALLINT(t.day),
                  SQLUSMALLINT(t.hour),
                  SQLUSMALLINT(t.minute),
                  SQLUSMALLINT(t.second),
                  SQLUINTEGER(t.millisecond) * 1000000};
          ctype = SQL_C_TYPE_TIMESTAMP, data = &b.ts, b.ind = sizeof b.ts;
          sqltype = SQL_TYPE_TIMESTAMP, size = 23, digits = 3;
        }
        break;
      }
      case ValueKind::kBytes:
        b.bytes = v->s;
        ctype = SQL_C_BINARY, data = b.bytes.data(), b.ind = SQLLEN(b.bytes.size());
        if (!typed) sqltype = b.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        size = std::max<size_t>(1, b.bytes.size());
        len = b.ind;
        break;
      default: {
        const std::string& text = v->kind == ValueKind::kCurrency ? CurrencyText(v->i) : v->s;
        if (s.wide) {
          b.wide = Wide(text);
          data = W(b.wide), b.ind = SQLLEN(b.wide.size() * sizeof(char16_t));
          size = std::max<size_t>(1, b.wide.size());
        } else {
          b.bytes = text;
          ctype = SQL_C_CHAR, data = b.bytes.data(), b.ind = SQLLEN(b.bytes.size());
          size = std::max<size_t>(1, b.bytes.size());
        }
        len = b.ind;
        if (!typed && size > 4000) sqltype = s.wide ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR;
        if (sqltype == SQL_DECIMAL) size = 38, digits = 4;
        break;
      }
    }
  }
  if (!Ok(SQLBindParameter(stmt, n, SQL_PARAM_INPUT, ctype, sqltype, size, digits, data, len,
                           &b.ind)))
    s.Fail(SQL_HANDLE_STMT, stmt);
}

}  // namespace ostrevane::odbc
