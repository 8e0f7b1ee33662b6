// The columns of an ODBC result: how each is described (field type, size),
// how what the driver delivers for it becomes a Value, and how its value
// is read from the current row with SQLGetData, long values in chunks,
// text narrow or wide as the session reads it.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>
#include <utility>

#include "data/db/backend.h"
#include "data/db/odbc_session.h"

namespace ostrevane::odbc {

// How a column is read.
enum class Conv : uint8_t {
  kInt,
  kUnsigned64,  // exact decimal text
  kReal,
  kDouble,
  kCurrency,
  kDecimal,
  kBit,
  kBits,  // MySQL BIT(n), n > 1: big-endian bytes, a number
  kDate,
  kTime,
  kTimestamp,
  kText,
  kMemo,
  kBinary,
  kLongBinary,
  kGuid,
};

struct Column {
  Conv conv;
  ValueKind int_kind = ValueKind::kInt32;
  std::string name;
  // The size the driver declares: characters, digits or bytes; 0 unknown.
  int64_t size = 0;
};

std::pair<FieldDef, Column> DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s);

// What the driver delivered for a column, as a Value. A date or time whose
// fields make no calendar date or time of day (a MySQL "2024-03-00"), a
// number outside its field, and a BIT value beyond the 64-bit integers
// raise an error that names the column.
void SetDate(const Column& col, const SQL_DATE_STRUCT& d, Value& v);
void SetTime(const Column& col, const SQL_TIME_STRUCT& t, Value& v);
void SetTimestamp(const Column& col, const SQL_TIMESTAMP_STRUCT& t, Value& v);
void SetUnsigned64(SQLUBIGINT n, Value& v);
// A decimal number's text (kCurrency, kDecimal).
void SetNumberText(const Column& col, std::string_view text, Value& v);
void SetBits(const Column& col, std::string_view bytes, Value& v);
// Text already in UTF-8 (kText, kMemo, kGuid).
void SetUtf8Text(const Column& col, std::string_view utf8, Value& v);
void SetUtf16Text(const Column& col, std::u16string_view text, Value& v);

// One column of the current row, read with SQLGetData.
class ColumnReader {
 public:
  void Read(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s, Value& v);
  // Reads again whole a text, decimal or binary value of which a bound
  // buffer held only the beginning, `start` (as bound: bytes, or UTF-16
  // code units for wide text; no NUL). A value read that does not begin
  // with `start` (a driver that gave another row, or only the rest) raises
  // an error rather than pass as the cell's value.
  void ReadAgain(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s,
                 std::string_view start, Value& v);

 private:
  static void Check(SQLRETURN rc, SQLHSTMT stmt, const Session& s);

  std::u16string wide_;
  std::string narrow_;
};

}  // namespace ostrevane::odbc
