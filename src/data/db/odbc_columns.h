// The columns of an ODBC result: how each is described (field type, size)
// and how its value is read from the current row with SQLGetData, long
// values in chunks, text in the driver's own width.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
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
};

std::pair<FieldDef, Column> DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s);

// One column of the current row, read with SQLGetData.
class ColumnReader {
 public:
  void Read(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s, Value& v);

 private:
  static void Check(SQLRETURN rc, SQLHSTMT stmt, const Session& s);
  // Reads a text value in chunks into wide_; false for null.
  bool ReadWide(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s);
  // Reads a text value in chunks into narrow_; false for null.
  bool ReadNarrow(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s);
  static bool ReadBinary(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s, std::string& out);

  std::u16string wide_;
  std::string narrow_;
};

}  // namespace ostrevane::odbc
