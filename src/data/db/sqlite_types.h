// How SQLite columns become fields: the declared column type picks the
// field type, and each stored value is converted to the value kind of that
// field type. Kept apart from the client calls so that the rules read as
// one table (docs/manual/50-sqlite.txt describes the same table).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/value.h"

namespace ostrevane::sqlite {

// The storage class of one stored value, as SQLite reports it.
enum class Storage : uint8_t { kNull, kInteger, kFloat, kText, kBlob };

// One stored value as read from a result row. `bytes` is valid for text
// and blob values only (and may hold NUL bytes).
struct RawValue {
  Storage storage = Storage::kNull;
  int64_t i = 0;
  double d = 0;
  std::string_view bytes;
};

// What a result column is and how its values are converted.
struct ColumnRule {
  FieldType type = FieldType::kUnknown;
  int64_t size = 0;
  int scale = -1;  // decimal columns: declared scale; -1 when not declared
  // No declared type, or one that names no known type nor a SQLite type
  // affinity other than NUMERIC: the type comes from the first stored value.
  bool from_first_value = false;
};

// The rule of a declared column type ("VARCHAR(20)", "DECIMAL(10, 2)", ...);
// null or empty for expressions.
ColumnRule RuleForDeclaredType(const char* declared);

// Settles a from_first_value rule by the storage class of the column's
// first value (kNull also when the result has no rows).
void SettleRule(ColumnRule& rule, Storage first);

// Converts a stored value to the field's value kind; `out` is reused from
// row to row. Never fails: a value that does not fit the field type is
// delivered in its own kind (integer, double, text or bytes); text-typed
// fields always get text.
void ConvertValue(const ColumnRule& rule, const RawValue& raw, Value& out);

}  // namespace ostrevane::sqlite
