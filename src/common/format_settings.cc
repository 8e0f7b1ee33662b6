#include "common/format_settings.h"

namespace ostrevane {

TFormatSettings DefaultFormatSettings() { return TFormatSettings{}; }

std::string DefaultDateTimeFormat(const TFormatSettings& fs, const std::string& joiner) {
  return fs.ShortDateFormat + joiner + fs.ShortTimeFormat;
}

}  // namespace ostrevane
