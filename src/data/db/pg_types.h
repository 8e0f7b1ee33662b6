// How PostgreSQL values travel as text: the field type and conversion of
// a result column, a column's text turned into a Value, and the type and
// text a parameter is sent with. The session formats that the backend fixes
// after connecting (ISO dates, shortest exact floats, hex bytea) are
// assumed throughout.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/db/backend.h"

namespace ostrevane {

// Type OIDs of the built-in types (pg_type.dat).
enum : Oid {
  kBoolOid = 16,
  kByteaOid = 17,
  kInt8Oid = 20,
  kInt2Oid = 21,
  kInt4Oid = 23,
  kTextOid = 25,
  kFloat4Oid = 700,
  kFloat8Oid = 701,
  kBpcharOid = 1042,
  kVarcharOid = 1043,
  kDateOid = 1082,
  kTimeOid = 1083,
  kTimestampOid = 1114,
  kTimestampTzOid = 1184,
  kNumericOid = 1700,
  kUuidOid = 2950,
};

// How a column's text becomes a Value.
enum class PgConversion : uint8_t {
  kInt16,
  kInt32,
  kInt64,
  kFloat4,
  kFloat8,
  kNumericInt,
  kCurrency,
  kDecimal,
  kBool,
  kDate,
  kTime,
  kTimestamp,
  kTimestampTz,
  kText,
  kMemo,
  kBytes,
  kGuid,
};

struct PgColumn {
  PgConversion conv;
  std::string name;
};

// Collapses a multi-line libpq message into one line.
std::string PgOneLine(std::string_view text);

// Fills `v` from one column's text. `sanitize`: the database is SQL_ASCII
// and text may hold bytes that are no UTF-8.
void ConvertPgValue(const PgColumn& col, const char* data, int len, bool is_null, bool sanitize,
                    Value& v);

// Field type, size and conversion of a result column.
std::pair<FieldDef, PgConversion> DescribePgColumn(Oid type, int mod, std::string name);

// The field definitions and conversions of a result's (or a described
// statement's) columns, appended to `fields` and `columns`. `sql_ascii`:
// names may hold bytes that are no UTF-8.
void DescribePgResult(const PGresult* r, bool sql_ascii, std::vector<FieldDef>& fields,
                      std::vector<PgColumn>& columns);

// The OID a typed parameter is sent with; 0 lets the server infer it.
Oid PgParamType(FieldType t);

// The text a value is sent as; `oid` is the parameter's type (0: unknown).
std::string PgParamText(const Value& v, Oid oid);

}  // namespace ostrevane
