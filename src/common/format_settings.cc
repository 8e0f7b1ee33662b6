#include "common/format_settings.h"

namespace ostrevane {

FormatSettings DefaultFormatSettings() { return FormatSettings{}; }

std::string DefaultDateTimeFormat(const FormatSettings& formats, const std::string& joiner) {
  return formats.short_date_format + joiner + formats.short_time_format;
}

}  // namespace ostrevane
