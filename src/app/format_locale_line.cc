#include "app/format_locale_line.h"

#include "common/datetime.h"
#include "common/text.h"
#include "writers/datetime_format.h"

namespace ostrevane {

std::string FormatLocaleLine(const FormatLocale& locale, const std::string& joiner) {
  const FormatSettings& f = locale.formats;
  const std::string datetime = DefaultDateTimeFormat(f, joiner);
  // Day 31 and month 12 tell the order of day and month at a glance.
  const std::string sample = FormatDateTime(datetime, f, EncodeDateTime(2025, 12, 31, 23, 59, 58));
  return Concat({"Date and time formats of locale \"", ShowControlCharacters(locale.name), "\" (",
                 locale.origin, "): date \"", f.short_date_format, "\", time \"",
                 f.short_time_format, "\", date and time \"", datetime,
                 "\", which writes 2025-12-31 23:59:58 as \"", sample, "\""});
}

}  // namespace ostrevane
