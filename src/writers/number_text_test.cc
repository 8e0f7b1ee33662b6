#include "writers/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

namespace ostrevane {
namespace {

// Two decimals the slow, obviously exact way: the correctly rounded
// fixed-point text of the binary value, with an exact half rounded away
// from zero (to_chars itself would round it to even).
std::string Reference(double v) {
  std::string out;
  if (std::signbit(v) && v != 0) out += '-';
  const double a = std::fabs(v);
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, 3 + 330);
  std::string exact(buf, r.ptr);  // enough digits to hold the value exactly
  const size_t dot = exact.find('.');
  std::string digits = exact.substr(0, dot) + exact.substr(dot + 1, 2);
  const std::string rest = exact.substr(dot + 3);
  if (!rest.empty() && rest[0] >= '5') {  // a half or more: up
    size_t k = digits.size();
    while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
    if (k == 0)
      digits.insert(digits.begin(), '1');
    else
      ++digits[k - 1];
  }
  digits.insert(digits.size() - 2, ".");
  if (digits[0] == '.') digits.insert(digits.begin(), '0');
  return out + digits;
}

std::string Two(double v) {
  std::string out;
  AppendTwoDecimals(out, v, '.');
  return out;
}

TEST(NumberTextTest, TwoDecimalsRoundEveryValueExactly) {
  struct {
    double value;
    const char* expected;
  } cases[] = {
      {0, "0.00"},          {-0.0, "0.00"},           {0.005, "0.01"},
      {0.125, "0.13"},      {-0.125, "-0.13"},        {2.675, "2.67"},  // 2.67499999...
      {1.005, "1.00"},      {0.045, "0.04"},          {-0.001, "-0.00"},
      {99.995, "100.00"},   {12.3, "12.30"},          {7, "7.00"},
      {1e-300, "0.00"},     {999999999999999.9, "999999999999999.88"},
  };
  for (const auto& c : cases) EXPECT_EQ(Two(c.value), c.expected) << c.value;
  EXPECT_EQ(Two(std::numeric_limits<double>::infinity()), "Inf");
  EXPECT_EQ(Two(std::nan("")), "Nan");

  // Random values at every scale, and exact halves, against the reference.
  std::mt19937_64 rng(15);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int i = 0; i < 200000; ++i) {
    const double scale = std::pow(10.0, int(rng() % 19) - 4);
    double v = unit(rng) * scale * ((rng() & 1) ? 1 : -1);
    if (i % 4 == 0) v = std::round(v * 8) / 8;  // multiples of 1/8 hold the halves
    if (i % 4 == 1) v = std::round(v * 100) / 100;
    ASSERT_EQ(Two(v), Reference(v)) << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace ostrevane
