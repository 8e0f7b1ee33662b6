#include "workers/value.h"

namespace ostrevane {

const char* FieldTypeName(FieldType t) {
  static const char* const kNames[] = {
      "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat",
      "ftCurrency", "ftBCD", "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes",
      "ftAutoInc", "ftBlob", "ftMemo", "ftGraphic", "ftFmtMemo", "ftParadoxOle", "ftDBaseOle",
      "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString", "ftLargeint", "ftADT",
      "ftArray", "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob", "ftVariant",
      "ftInterface", "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd", "ftFixedWideChar",
      "ftWideMemo", "ftOraTimeStamp", "ftOraInterval", "ftLongWord", "ftShortint", "ftByte",
      "ftExtended", "ftConnection", "ftParams", "ftStream", "ftTimeStampOffset", "ftObject",
      "ftSingle"};
  const size_t i = static_cast<size_t>(t);
  return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "ftUnknown";
}

}  // namespace ostrevane
