#include "common/datetime.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(DateTimeTest, DecodeKnownValues) {
  struct { DateTime v; int y, mo, d, h, mi, s, ms, dow; } cases[] = {
      {0, 1899, 12, 30, 0, 0, 0, 0, 7},
      {42285.5854745949, 2015, 10, 8, 14, 3, 5, 4, 5},
      {-1.25, 1899, 12, 29, 6, 0, 0, 0, 6},
      {0.9999999999, 1899, 12, 31, 0, 0, 0, 0, 1},  // rounds over midnight
  };
  for (const auto& c : cases) {
    DateTimeParts p = DecodeDateTime(c.v);
    EXPECT_EQ(p.year, c.y) << c.v;
    EXPECT_EQ(p.month, c.mo) << c.v;
    EXPECT_EQ(p.day, c.d) << c.v;
    EXPECT_EQ(p.hour, c.h) << c.v;
    EXPECT_EQ(p.minute, c.mi) << c.v;
    EXPECT_EQ(p.second, c.s) << c.v;
    if (c.dow) {
      EXPECT_EQ(p.day_of_week, c.dow) << c.v;
    }
  }
  EXPECT_DOUBLE_EQ(EncodeDateTime(2015, 10, 8), 42285.0);
  EXPECT_EQ(SecondsSince1970(EncodeDateTime(1970, 1, 2, 0, 0, 1)), 86401);
}

}  // namespace
}  // namespace ostrevane
