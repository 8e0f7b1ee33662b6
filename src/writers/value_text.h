// The text of one field value, and the macro expansion of templates.
#pragma once

#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/format_settings.h"
#include "common/guid.h"
#include "data/value.h"
#include "writers/datetime_format.h"
#include "writers/expanded_name.h"

namespace ostrevane {

class Query;

// The cell text of a value (number forms with two decimals, currency,
// date-time by `datetime_format`, standard texts). Bytes have no text form
// and raise Error(kEConvertError). With `quoting`, quotes are doubled and a
// value holding the separator, the quote, CR or LF is enclosed in quotes.
std::string FormatValue(const Value& value, const std::string& datetime_format,
                        const FormatSettings& formats, std::string_view separator,
                        std::string_view quote, bool quoting);

// FormatValue appended to `out`; allocates only when `out` grows. A value
// that needs quoting is rewritten in place. `separator` and `quote` are
// each one whole character (UTF-8, of one or more bytes) as the cells will
// be written with it; an empty separator encloses for the quote, CR and LF only.
void AppendValueText(std::string& out, const Value& value, std::string_view datetime_format,
                     const FormatSettings& formats, std::string_view separator,
                     std::string_view quote, bool quoting);

// The same with a pattern prepared once for many values.
void AppendValueText(std::string& out, const Value& value, const DateTimePattern& datetime_format,
                     const FormatSettings& formats, std::string_view separator,
                     std::string_view quote, bool quoting);

// The quoting of AppendValueText, on a cell text already in out[start..]
// (nothing when `quote` is empty).
void QuoteCellText(std::string& out, size_t start, std::string_view separator,
                   std::string_view quote);

// Replaces "?GUID", "?DATE", "?TIME" and, when `dataset` is given, ":" +
// field name (for each field in field order) in `tmpl`; all matches,
// without regard to case. Reads the dataset's current record only.
std::string ExpandNameTemplate(const Guid& guid, std::string_view tmpl, const Query* dataset,
                               DateTime moment, const FormatSettings& formats,
                               const std::string& date_pattern, const std::string& time_pattern,
                               const std::string& joiner);

// The parts of ExpandNameTemplate, on a name that keeps where its text came
// from. The macros that do not depend on a record:
void ExpandFixedMacros(ExpandedName& name, const Guid& guid, DateTime moment,
                       const FormatSettings& formats, const std::string& date_pattern,
                       const std::string& time_pattern);
// The field macros of the dataset's current record, in field order, each on
// the text the earlier fields left. A field whose macro does not occur is
// not read, so a binary field fails only when its macro is used.
void ExpandFieldMacros(ExpandedName& name, const Query& dataset, const FormatSettings& formats,
                       const std::string& joiner);

// The same on plain text.
std::string ExpandFixedMacros(const Guid& guid, std::string_view tmpl, DateTime moment,
                              const FormatSettings& formats, const std::string& date_pattern,
                              const std::string& time_pattern);
std::string ExpandFieldMacros(std::string text, const Query& dataset, const FormatSettings& formats,
                              const std::string& joiner);

}  // namespace ostrevane
