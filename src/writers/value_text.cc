#include "writers/value_text.h"

#include <cstdint>
#include <cstring>

#include "common/error.h"
#include "common/text.h"
#include "data/dataset.h"
#include "writers/datetime_format.h"
#include "writers/number_text.h"

namespace ostrevane {
namespace {

// Doubles every `quote` in out[start..] and encloses that part in quotes
// when it holds the separator, the quote, CR or LF. The separator and the
// quote are whole characters of one or more bytes (empty separator: none);
// the scan looks for their first bytes and then compares the whole text. A
// one-byte quote (the usual case) is handled in place, from the back,
// without a temporary text.
void QuoteTail(std::string& out, size_t start, std::string_view separator, std::string_view quote) {
  const bool has_separator = !separator.empty();
  const char sep_lead = has_separator ? separator[0] : '\r';
  const std::string_view tail = std::string_view(out).substr(start);
  // Most values hold none of the four bytes that matter; eight bytes are
  // tested at a time (a byte equal to c makes (x - 0x01..) & ~x & 0x80..
  // non-zero for x = word ^ c repeated).
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const uint64_t cr = kOnes * uint8_t('\r'), lf = kOnes * uint8_t('\n');
  const uint64_t sep = kOnes * uint8_t(sep_lead);
  const uint64_t qu = kOnes * uint8_t(quote[0]);
  auto has = [](uint64_t w, uint64_t pattern) {
    const uint64_t x = w ^ pattern;
    return (x - kOnes) & ~x & kHighs;
  };
  size_t first = 0;
  for (; first + 8 <= tail.size(); first += 8) {
    uint64_t w;
    std::memcpy(&w, tail.data() + first, 8);
    if (has(w, cr) | has(w, lf) | has(w, sep) | has(w, qu)) break;
  }
  auto candidate = [&](char c) { return c == '\r' || c == '\n' || c == sep_lead || c == quote[0]; };
  while (first < tail.size() && !candidate(tail[first])) ++first;
  if (first == tail.size()) return;

  size_t quotes = 0;
  bool enclose = false;
  for (size_t i = first; i < tail.size(); ++i) {
    const char c = tail[i];
    if (c == '\r' || c == '\n' ||
        (has_separator && c == sep_lead && tail.compare(i, separator.size(), separator) == 0)) {
      enclose = true;
    } else if (c == quote[0] && tail.compare(i, quote.size(), quote) == 0) {
      ++quotes;
      enclose = true;
      i += quote.size() - 1;
    }
  }
  if (!enclose) return;
  if (quote.size() != 1) {
    const std::string doubled = ReplaceAll(tail, quote, std::string(quote) + std::string(quote));
    out.resize(start);
    out += quote;
    out += doubled;
    out += quote;
    return;
  }
  const char q = quote[0];
  const size_t old_size = out.size();
  out.resize(old_size + quotes + 2);
  size_t dst = out.size();
  out[--dst] = q;
  for (size_t src = old_size; src > start;) {
    const char c = out[--src];
    out[--dst] = c;
    if (c == q) out[--dst] = q;
  }
  out[--dst] = q;
}

// Whether a number's text could need quoting: number texts hold only
// digits, "-", the decimal separator and the letters of "Nan" and "Inf",
// so only a separator or quote among those bytes can occur in one.
bool NumberMayNeedQuoting(std::string_view separator, std::string_view quote, char decimal_sep) {
  auto number_byte = [&](char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == decimal_sep || c == 'N' || c == 'a' ||
           c == 'n' || c == 'I' || c == 'f';
  };
  return (!separator.empty() && number_byte(separator[0])) || number_byte(quote[0]);
}

[[noreturn]] void ThrowNoText() {
  throw Error(kEConvertError, "Could not convert variant of type (Array Byte) into type (String)");
}

}  // namespace

namespace {

// The cell text with the date-time form left to `append_datetime`.
template <typename AppendDateTime>
void AppendCellText(std::string& out, const Value& value, AppendDateTime append_datetime,
                    const FormatSettings& formats, std::string_view separator,
                    std::string_view quote, bool quoting) {
  const size_t start = out.size();
  bool number = false;
  switch (value.kind) {
    case ValueKind::kNull:
      return;
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64:
      AppendInt(out, value.i);
      number = true;
      break;
    case ValueKind::kSingle:
    case ValueKind::kDouble:
      AppendTwoDecimals(out, value.d, formats.decimal_separator);
      number = true;
      break;
    case ValueKind::kCurrency:
      AppendCurrencyTwoDecimals(out, value.i, formats.decimal_separator);
      number = true;
      break;
    case ValueKind::kDateTime:
      append_datetime(out, value.d);
      break;
    case ValueKind::kText:
    case ValueKind::kGuid:
      out += value.s;
      break;
    case ValueKind::kBoolean:
      out += value.i ? "True" : "False";
      break;
    case ValueKind::kDecimal:
      AppendDecimalText(out, value.s, formats.decimal_separator);
      break;
    case ValueKind::kBytes:
      ThrowNoText();
  }
  if (quoting && !quote.empty() &&
      (!number || NumberMayNeedQuoting(separator, quote, formats.decimal_separator)))
    QuoteTail(out, start, separator, quote);
}

}  // namespace

void QuoteCellText(std::string& out, size_t start, std::string_view separator,
                   std::string_view quote) {
  if (!quote.empty()) QuoteTail(out, start, separator, quote);
}

void AppendValueText(std::string& out, const Value& value, std::string_view datetime_format,
                     const FormatSettings& formats, std::string_view separator,
                     std::string_view quote, bool quoting) {
  AppendCellText(
      out, value,
      [&](std::string& o, DateTime d) { AppendDateTimeText(o, datetime_format, formats, d); },
      formats, separator, quote, quoting);
}

void AppendValueText(std::string& out, const Value& value, const DateTimePattern& datetime_format,
                     const FormatSettings& formats, std::string_view separator,
                     std::string_view quote, bool quoting) {
  AppendCellText(
      out, value, [&](std::string& o, DateTime d) { datetime_format.Append(o, d); }, formats,
      separator, quote, quoting);
}

std::string FormatValue(const Value& value, const std::string& datetime_format,
                        const FormatSettings& formats, std::string_view separator,
                        std::string_view quote, bool quoting) {
  std::string out;
  AppendValueText(out, value, datetime_format, formats, separator, quote, quoting);
  return out;
}

void ExpandFixedMacros(ExpandedName& name, const Guid& guid, DateTime moment,
                       const FormatSettings& formats, const std::string& date_pattern,
                       const std::string& time_pattern) {
  name.Replace("?GUID", GuidToText(guid), "?GUID");
  if (IFind(name.text(), "?DATE") != std::string::npos)
    name.Replace("?DATE", FormatDateTime(date_pattern, formats, moment, false), "?DATE");
  if (IFind(name.text(), "?TIME") != std::string::npos)
    name.Replace("?TIME", FormatDateTime(time_pattern, formats, moment, false), "?TIME");
}

void ExpandFieldMacros(ExpandedName& name, const Query& dataset, const FormatSettings& formats,
                       const std::string& joiner) {
  const std::string format = DefaultDateTimeFormat(formats, joiner);
  std::string macro;
  for (size_t i = 0; i < dataset.FieldCount(); ++i) {
    const Field& field = dataset.FieldAt(i);
    if (field.name().empty()) continue;  // a bare ":" is no macro
    macro.assign(1, ':');
    macro += field.name();
    if (IFind(name.text(), macro) == std::string::npos) continue;
    name.Replace(macro, FormatValue(field.value(), format, formats, ";", "\"", false),
                 "field " + field.name());
  }
}

std::string ExpandFixedMacros(const Guid& guid, std::string_view tmpl, DateTime moment,
                              const FormatSettings& formats, const std::string& date_pattern,
                              const std::string& time_pattern) {
  ExpandedName name(tmpl);
  ExpandFixedMacros(name, guid, moment, formats, date_pattern, time_pattern);
  return name.text();
}

std::string ExpandFieldMacros(std::string text, const Query& dataset, const FormatSettings& formats,
                              const std::string& joiner) {
  ExpandedName name(text);
  ExpandFieldMacros(name, dataset, formats, joiner);
  return name.text();
}

std::string ExpandNameTemplate(const Guid& guid, std::string_view tmpl, const Query* dataset,
                               DateTime moment, const FormatSettings& formats,
                               const std::string& date_pattern, const std::string& time_pattern,
                               const std::string& joiner) {
  std::string text = ExpandFixedMacros(guid, tmpl, moment, formats, date_pattern, time_pattern);
  if (dataset) text = ExpandFieldMacros(std::move(text), *dataset, formats, joiner);
  return text;
}

}  // namespace ostrevane
