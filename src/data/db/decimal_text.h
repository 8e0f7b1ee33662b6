// Exact decimal numbers as database drivers give them in text ("-12.3400",
// ".5", "1E+3"), turned into the value kinds of numeric columns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrevane {

// The text as an exact decimal: optional "-", at least one digit before the
// ".", no exponent, no "+" and no leading zeros beyond one; the fraction
// digits stay as given (trailing zeros too). Empty optional when the text
// is no finite decimal number (NaN, Infinity, garbage).
std::optional<std::string> NormalizeDecimal(std::string_view text);

// The value as a signed count of ten-thousandths; more than four decimals
// are rounded half away from zero. Empty optional when the text is no
// number or the value lies outside the 64-bit range.
std::optional<int64_t> ParseCurrency(std::string_view text);

// A count of ten-thousandths as a decimal text with four decimals:
// -1234567 -> "-123.4567", 5 -> "0.0005". Exact for the whole 64-bit range.
std::string CurrencyText(int64_t ten_thousandths);

}  // namespace ostrevane
