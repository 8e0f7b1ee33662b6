#include "data/value.h"

namespace ostrevane {

const char* FieldTypeName(FieldType t) {
  static const char* const kNames[] = {
      "Unknown",      "String",      "Smallint", "Integer",       "Word",
      "Boolean",      "Float",       "Currency", "BCD",           "Date",
      "Time",         "DateTime",    "Bytes",    "VarBytes",      "AutoInc",
      "Blob",         "Memo",        "Graphic",  "FmtMemo",       "ParadoxOle",
      "DBaseOle",     "TypedBinary", "Cursor",   "FixedChar",     "WideString",
      "Largeint",     "ADT",         "Array",    "Reference",     "DataSet",
      "OraBlob",      "OraClob",     "Variant",  "Interface",     "IDispatch",
      "Guid",         "TimeStamp",   "FMTBcd",   "FixedWideChar", "WideMemo",
      "OraTimeStamp", "OraInterval", "LongWord", "Shortint",      "Byte",
      "Extended",     "Connection",  "Params",   "Stream",        "TimeStampOffset",
      "Object",       "Single"};
  const size_t i = static_cast<size_t>(t);
  return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "Unknown";
}

}  // namespace ostrevane
