// Field types and field values as the data-access layer delivers them. The
// writers depend on both: the value kind chooses the value text, the field
// type the XML DATATYPE.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrevane {

// The field-type enumeration, in the order of the classic data-set field
// types; backends map their column types onto it.
enum class FieldType : uint8_t {
  kUnknown,
  kString,
  kSmallint,
  kInteger,
  kWord,
  kBoolean,
  kFloat,
  kCurrency,
  kBCD,
  kDate,
  kTime,
  kDateTime,
  kBytes,
  kVarBytes,
  kAutoInc,
  kBlob,
  kMemo,
  kGraphic,
  kFmtMemo,
  kParadoxOle,
  kDBaseOle,
  kTypedBinary,
  kCursor,
  kFixedChar,
  kWideString,
  kLargeint,
  kADT,
  kArray,
  kReference,
  kDataSet,
  kOraBlob,
  kOraClob,
  kVariant,
  kInterface,
  kIDispatch,
  kGuid,
  kTimeStamp,
  kFMTBcd,
  kFixedWideChar,
  kWideMemo,
  kOraTimeStamp,
  kOraInterval,
  kLongWord,
  kShortint,
  kByte,
  kExtended,
  kConnection,
  kParams,
  kStream,
  kTimeStampOffset,
  kObject,
  kSingle
};

// "kInteger" etc.
const char* FieldTypeName(FieldType t);

enum class ValueKind : uint8_t {
  kNull,
  kInt16,
  kInt32,
  kInt64,     // integers by width (i)
  kSingle,    // 32-bit floating, held widened in d
  kDouble,    // d
  kCurrency,  // i: signed count of ten-thousandths
  kDateTime,  // d: days since 1899-12-30
  kText,      // s: UTF-8
  kBoolean,   // i: 0 or 1
  kDecimal,   // s: exact digits, "." separator, optional "-" ("-12.3400")
  kGuid,      // s: GUID text
  kBytes,     // s: raw bytes
};

inline bool IsIntegerKind(ValueKind k) {
  return k == ValueKind::kInt16 || k == ValueKind::kInt32 || k == ValueKind::kInt64;
}

// One value. Backends reuse a row's Value objects from record to record, so
// assigning text into `s` keeps its capacity and reading stays allocation
// free once warm.
struct Value {
  ValueKind kind = ValueKind::kNull;
  int64_t i = 0;
  double d = 0;
  std::string s;

  bool IsNull() const { return kind == ValueKind::kNull; }
  void SetNull() {
    kind = ValueKind::kNull;
    s.clear();
  }
  void SetInteger(int64_t v, ValueKind k = ValueKind::kInt64) {
    kind = k;
    i = v;
  }
  void SetDouble(double v) {
    kind = ValueKind::kDouble;
    d = v;
  }
  void SetSingle(float v) {
    kind = ValueKind::kSingle;
    d = v;
  }
  void SetCurrency(int64_t ten_thousandths) {
    kind = ValueKind::kCurrency;
    i = ten_thousandths;
  }
  void SetDateTime(double v) {
    kind = ValueKind::kDateTime;
    d = v;
  }
  void SetBoolean(bool v) {
    kind = ValueKind::kBoolean;
    i = v ? 1 : 0;
  }
  void SetText(std::string_view v, ValueKind k = ValueKind::kText) {
    kind = k;
    s.assign(v);
  }

  static Value Null() { return Value{}; }
  static Value Text(std::string_view v) {
    Value x;
    x.SetText(v);
    return x;
  }
  static Value Integer(int64_t v) {
    Value x;
    x.SetInteger(v);
    return x;
  }
};

}  // namespace ostrevane
