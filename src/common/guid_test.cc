#include "common/guid.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(GuidTest, TextLayout) {
  Guid g;
  g.data1 = 0x0123ABCD;
  g.data2 = 0x0A0B;
  g.data3 = 0x4C0D;
  g.data4 = {0x8E, 0x0F, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(GuidToText(g), "0123ABCD-0A0B-4C0D-8E0F-010203040506");
  EXPECT_NE(GuidToText(NewGuid()), GuidToText(NewGuid()));
}

}  // namespace
}  // namespace ostrevane
