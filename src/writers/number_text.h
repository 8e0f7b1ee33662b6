// The number forms of the writers, appended to a text without allocation
// besides its growth. No locale-sensitive C function is involved: digits
// come from std::to_chars and exact integer arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrevane {

// Decimal digits with a leading "-" when negative.
void AppendInt(std::string& out, int64_t v);
// At least `min_digits` digits (zero padded, never cut), "-" before them.
void AppendPadded(std::string& out, int64_t v, int min_digits);

// Exactly two decimals, halves away from zero, rounding the exact binary
// value (0.125 gives 0.13; 2.675 is stored as 2.67499999... and gives 2.67).
// "-" for values below zero even when the digits round to zero (-0.001
// gives -0.00); -0.0 is not below zero. Non-finite values give "Nan",
// "Inf" and "-Inf".
void AppendTwoDecimals(std::string& out, double v, char decimal_separator);
// The same for a currency amount counted in ten-thousandths, rounded on the
// exact amount (1.0050 gives 1.01).
void AppendCurrencyTwoDecimals(std::string& out, int64_t ten_thousandths, char decimal_separator);

// A currency amount counted in ten-thousandths with all four decimals:
// "-12.3400".
void AppendCurrencyDigits(std::string& out, int64_t ten_thousandths);

// The floating text of the XML files: 15 significant digits as
// "d.ddddddddddddddE+dddd" with a "-" for negative values; "Inf", "-Inf"
// and "Nan" for non-finite values.
void AppendFloatText(std::string& out, double v);

// Exact decimal digits ("-12.3400", "5.000", ".5") in their standard form:
// leading zeros dropped but one kept before the separator, trailing
// fraction zeros dropped and a bare separator too, no "-" before zero.
// A text that is not plain digits is appended unchanged.
void AppendDecimalText(std::string& out, std::string_view digits, char decimal_separator);

// The shortest text that reads back as the same double ("0.1", "1e+300").
void AppendShortest(std::string& out, double v);

}  // namespace ostrevane
