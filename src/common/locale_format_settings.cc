#include "common/format_settings.h"

namespace ostrevane {

// Placeholder until the locale reader lands: the C locale's settings.
TFormatSettings LocaleFormatSettings() { return DefaultFormatSettings(); }

}  // namespace ostrevane
