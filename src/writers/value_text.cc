#include "writers/value_text.h"

#include <cstdint>

#include "common/error.h"
#include "common/text.h"
#include "workers/dataset.h"
#include "writers/datetime_format.h"
#include "writers/number_text.h"

namespace ostrevane {
namespace {

// Doubles every `quote` in out[start..] and encloses that part in quotes
// when it holds the separator character, the quote, CR or LF. A one-byte
// quote (the usual case) is handled in place, from the back, without a
// temporary text.
void QuoteTail(std::string& out, size_t start, char separator, bool has_separator,
               std::string_view quote) {
  const std::string_view tail = std::string_view(out).substr(start);
  // Most bytes are letters and digits; a bit mask over the codes below 64
  // (where CR, LF and the usual separators and quotes live) rules them out
  // with one test.
  uint64_t low = (uint64_t{1} << '\r') | (uint64_t{1} << '\n');
  char high[2];
  int highs = 0;
  auto mark = [&](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 64)
      low |= uint64_t{1} << u;
    else
      high[highs++] = c;
  };
  if (has_separator) mark(separator);
  mark(quote[0]);
  auto candidate = [&](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 64) return ((low >> u) & 1) != 0;
    return (highs > 0 && c == high[0]) || (highs > 1 && c == high[1]);
  };
  size_t first = 0;
  while (first < tail.size() && !candidate(tail[first])) ++first;
  if (first == tail.size()) return;

  size_t quotes = 0;
  bool enclose = false;
  for (size_t i = first; i < tail.size(); ++i) {
    const char c = tail[i];
    if (c == '\r' || c == '\n' || (has_separator && c == separator)) {
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

[[noreturn]] void ThrowNoText() {
  throw Error(kEConvertError, "Could not convert variant of type (Array Byte) into type (String)");
}

}  // namespace

void AppendValueText(std::string& out, const Value& value, std::string_view datetime_format,
                     const TFormatSettings& fs, std::string_view separator,
                     std::string_view quote, bool quoting) {
  const size_t start = out.size();
  switch (value.kind) {
    case ValueKind::kNull:
      return;
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64:
      AppendInt(out, value.i);
      break;
    case ValueKind::kSingle:
    case ValueKind::kDouble:
      AppendTwoDecimals(out, value.d, fs.DecimalSeparator);
      break;
    case ValueKind::kCurrency:
      AppendCurrencyTwoDecimals(out, value.i, fs.DecimalSeparator);
      break;
    case ValueKind::kDateTime:
      AppendDateTimeText(out, datetime_format, fs, value.d);
      break;
    case ValueKind::kText:
    case ValueKind::kGuid:
      out += value.s;
      break;
    case ValueKind::kBoolean:
      out += value.i ? "True" : "False";
      break;
    case ValueKind::kDecimal:
      AppendDecimalText(out, value.s, fs.DecimalSeparator);
      break;
    case ValueKind::kBytes:
      ThrowNoText();
  }
  if (quoting && !quote.empty())
    QuoteTail(out, start, separator.empty() ? '\0' : separator[0], !separator.empty(), quote);
}

std::string ValueToText(const Value& value, const std::string& datetime_format,
                        const TFormatSettings& fs, std::string_view separator,
                        std::string_view quote, bool quoting) {
  std::string out;
  AppendValueText(out, value, datetime_format, fs, separator, quote, quoting);
  return out;
}

std::string ExpandFixedMacros(const Guid& guid, std::string_view tmpl, DateTime moment,
                              const TFormatSettings& fs, const std::string& date_pattern,
                              const std::string& time_pattern) {
  std::string text = ReplaceAllIgnoreCase(tmpl, "?GUID", GuidToText(guid));
  if (IFind(text, "?DATE") != std::string::npos)
    text = ReplaceAllIgnoreCase(text, "?DATE", FormatDateTimeText(date_pattern, fs, moment, false));
  if (IFind(text, "?TIME") != std::string::npos)
    text = ReplaceAllIgnoreCase(text, "?TIME", FormatDateTimeText(time_pattern, fs, moment, false));
  return text;
}

std::string ExpandFieldMacros(std::string text, const Query& dataset, const TFormatSettings& fs,
                              const std::string& joiner) {
  const std::string format = DefaultDateTimeFormat(fs, joiner);
  std::string macro;
  for (size_t i = 0; i < dataset.FieldCount(); ++i) {
    const Field& field = dataset.FieldAt(i);
    if (field.name().empty()) continue;  // a bare ":" is no macro
    macro.assign(1, ':');
    macro += field.name();
    if (IFind(text, macro) == std::string::npos) continue;
    text = ReplaceAllIgnoreCase(text, macro,
                                ValueToText(field.value(), format, fs, ";", "\"", false));
  }
  return text;
}

std::string ExpandTemplate(const Guid& guid, std::string_view tmpl, const Query* dataset,
                           DateTime moment, const TFormatSettings& fs,
                           const std::string& date_pattern, const std::string& time_pattern,
                           const std::string& joiner) {
  std::string text = ExpandFixedMacros(guid, tmpl, moment, fs, date_pattern, time_pattern);
  if (dataset) text = ExpandFieldMacros(std::move(text), *dataset, fs, joiner);
  return text;
}

}  // namespace ostrevane
