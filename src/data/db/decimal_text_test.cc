#include "data/db/decimal_text.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(DecimalTextTest, Normalize) {
  struct {
    const char* in;
    const char* out;  // nullptr: not a number
  } cases[] = {
      {"12.3400", "12.3400"},
      {"-0.5", "-0.5"},
      {".5", "0.5"},
      {"+007", "7"},
      {"-0.000", "0.000"},
      {"1E+3", "1000"},
      {"1.25e-3", "0.00125"},
      {"0", "0"},
      {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
      {"-1234567890123456789012345678.9012345678", "-1234567890123456789012345678.9012345678"},
      {"NaN", nullptr},
      {"Infinity", nullptr},
      {"", nullptr},
      {"1.2.3", nullptr},
      {"1e", nullptr},
  };
  for (const auto& row : cases) {
    auto got = NormalizeDecimal(row.in);
    if (!row.out) {
      EXPECT_FALSE(got) << row.in;
    } else {
      ASSERT_TRUE(got) << row.in;
      EXPECT_EQ(*got, row.out) << row.in;
    }
  }
}

TEST(DecimalTextTest, CurrencyRoundsAndRejectsOverflow) {
  struct {
    const char* in;
    std::optional<int64_t> out;
  } cases[] = {
      {"12.34", 123400},
      {"-12.3456", -123456},
      {"12.", 120000},
      {".5", 5000},
      {"-0", 0},
      {" 7 ", 70000},
      {"1e2", 1000000},
      {"1.23455", 12346},  // fifth decimal rounds
      {"99999999999999.9999", 999999999999999999},
      {"-123456789012345.6789", -1234567890123456789},
      {"0.00005", 1},
      {"-0.00005", -1},
      {"0.00004999", 0},
      {"922337203685477.5807", INT64_MAX},
      {"-922337203685477.5808", INT64_MIN},
      {"922337203685477.5808", std::nullopt},
      {"9999999999999999999", std::nullopt},
      {"abc", std::nullopt},
  };
  for (const auto& row : cases) EXPECT_EQ(ParseCurrency(row.in), row.out) << row.in;
}

TEST(CurrencyTextTest, FourDecimalsOverTheWholeRange) {
  const struct {
    int64_t value;
    const char* text;
  } cases[] = {
      {0, "0.0000"},
      {5, "0.0005"},
      {-1234567, "-123.4567"},
      {10000, "1.0000"},
      {INT64_MAX, "922337203685477.5807"},
      {INT64_MIN, "-922337203685477.5808"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CurrencyText(c.value), c.text);
    EXPECT_EQ(ParseCurrency(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace ostrevane
