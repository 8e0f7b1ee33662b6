#include "writers/value_text.h"

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {

// Placeholder until the writers land.
std::string ValueToText(const Value& value, const std::string&, const TFormatSettings&,
                        std::string_view, std::string_view, bool) {
  return value.s;
}

std::string ExpandTemplate(const Guid& guid, std::string_view tmpl, const Query*, DateTime,
                           const TFormatSettings&, const std::string&, const std::string&,
                           const std::string&) {
  return ReplaceAllIgnoreCase(tmpl, "?GUID", GuidToText(guid));
}

}  // namespace ostrevane
