#include "data/db/sqlite_types.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>

namespace ostrevane::sqlite {
namespace {

// A stored number must give a currency column the same value whichever
// way it is read: straight from the double or integer, or through the
// shortest text of the number (what a TEXT-stored copy of it holds).
TEST(SqliteCurrency, StoredNumbersAgreeWithTheirText) {
  std::vector<double> values = {0.0, -0.0, 0.1, 0.2, 0.1 + 0.2, 1.0 / 3, 2.675, 1.005, -1.005,
                                12.345, 12.3449999, 0.00005, -0.00005, 0.00015, 99.995,
                                123456789.1234, 99999999999.9999, 1e11, 1e-300, 9e14, -9e14,
                                922337203685477.0, 1e18, 5e-5, 4.99999e-5, 0.12345};
  std::mt19937_64 random(42);
  for (int k = 0; k < 20000; ++k) {
    const int64_t cents = int64_t(random() % 2000000001) - 1000000000;
    values.push_back(double(cents) / (k % 2 ? 100.0 : 10000.0));
    values.push_back(std::ldexp(double(random() % (1ull << 52)), -int(random() % 60)));
  }
  const std::vector<int64_t> integers = {0, 1, -1, 922337203685477, -922337203685477,
                                         922337203685478, -922337203685478,
                                         std::numeric_limits<int64_t>::max()};
  for (int scale : {-1, 0, 1, 2, 3, 4, 6}) {
    ColumnRule rule = RuleForDeclaredType("DECIMAL(18, 2)");
    ASSERT_EQ(rule.type, FieldType::kBCD);
    rule.scale = scale;
    auto check = [&](const RawValue& number, std::string_view text) {
      Value direct, through_text;
      ConvertValue(rule, number, direct);
      ConvertValue(rule, RawValue{Storage::kText, 0, 0, text}, through_text);
      ASSERT_EQ(direct.kind, through_text.kind) << text << " scale " << scale;
      ASSERT_EQ(direct.i, through_text.i) << text << " scale " << scale;
      ASSERT_EQ(direct.s, through_text.s) << text << " scale " << scale;
    };
    char buf[400];
    for (double d : values) {
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
      check(RawValue{Storage::kFloat, 0, d, {}}, std::string_view(buf, size_t(p - buf)));
    }
    for (int64_t i : integers) {
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, i);
      check(RawValue{Storage::kInteger, i, 0, {}}, std::string_view(buf, size_t(p - buf)));
    }
  }
}

}  // namespace
}  // namespace ostrevane::sqlite
