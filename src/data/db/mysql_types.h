// How MySQL and MariaDB values travel: the field type and conversion of a
// result column (from the column metadata), a column's value turned into a
// Value, and how a parameter is bound. The session exchanges text as
// utf8mb4, which the backend sets after connecting.
#pragma once

#include <mysql.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "data/db/backend.h"

namespace ostrevane {

// How a column's value becomes a Value.
enum class MysqlConversion : uint8_t {
  kInt16,
  kInt32,
  kInt64,
  kUInt64,  // BIGINT UNSIGNED: exact decimal text, beyond the signed range too
  kFloat4,
  kFloat8,
  kNumericInt,
  kCurrency,
  kDecimal,
  kBool,     // TINYINT(1): any non-zero number is true
  kBit1,     // BIT(1): one byte
  kBits,     // BIT(n): big-endian bytes, a number
  kYear,
  kDate,
  kTime,
  kDateTime,
  kText,
  kMemo,     // TEXT, JSON: a null value arrives as empty text
  kBytes,
  kBlob,     // an empty value arrives as null
};

struct MysqlColumn {
  MysqlConversion conv;
  std::string name;
};

// Whether the column's value arrives as a number in the binary protocol of
// prepared statements (bound as a 64-bit integer or a double there); all
// other columns are bound as text or bytes.
bool MysqlIsIntegral(MysqlConversion conv);
bool MysqlIsFloating(MysqlConversion conv);

// Collapses a multi-line message into one valid UTF-8 line.
std::string MysqlOneLine(std::string_view text);

// Field type, size and conversion of a result column.
std::pair<FieldDef, MysqlConversion> DescribeMysqlColumn(const MYSQL_FIELD& field);

// Fills `v` from one column's text (text protocol) or bytes; `data` is
// null for SQL NULL. Values no field type holds (zero dates, TIME beyond a
// day) raise an error naming the column.
void ConvertMysqlText(const MysqlColumn& col, const char* data, size_t len, Value& v);

// Fills `v` from an integral column's number (binary protocol, bound as a
// 64-bit integer that is unsigned exactly when the column is): `bits` is
// its 64-bit pattern.
void ConvertMysqlInteger(const MysqlColumn& col, uint64_t bits, Value& v);

// A parameter ready for MYSQL_BIND: its buffer type and storage. Typed
// values travel as numbers, date-times as MYSQL_TIME, bytes as binary;
// text (and every value the caller did not type) as a string, which the
// server converts where it is used.
struct MysqlParam {
  enum_field_types type = MYSQL_TYPE_NULL;
  bool is_unsigned = false;
  int64_t integer = 0;
  double floating = 0;
  MYSQL_TIME time{};
  std::string text;
};
MysqlParam MakeMysqlParam(const BoundParam& p);

}  // namespace ostrevane
