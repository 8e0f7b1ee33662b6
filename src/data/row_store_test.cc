#include "data/row_store.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(RowStoreTest, EveryKindComesBackAsStored) {
  std::vector<Value> a(6), b(6);
  a[0].SetInteger(-5, ValueKind::kInt16);
  a[1].SetDouble(2.5);
  a[2].SetText(std::string("x\0y", 3));
  a[3].SetCurrency(123456);
  a[4].SetDateTime(42285.25);
  b[0].SetText("", ValueKind::kBytes);
  b[1].SetBoolean(true);
  b[2].SetText("-1.50", ValueKind::kDecimal);
  b[3].SetSingle(0.5f);
  b[5].SetText("G", ValueKind::kGuid);
  RowStore store;
  store.Append(a);
  store.Append(b);
  std::vector<Value> row(6);
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t r = 0; r < 2; ++r) {
      store.Read(r, row);
      const std::vector<Value>& want = r == 0 ? a : b;
      for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(row[i].kind, want[i].kind) << r << i;
        if (want[i].IsNull()) continue;
        EXPECT_EQ(row[i].s, want[i].s) << r << i;
        if (want[i].kind == ValueKind::kDouble || want[i].kind == ValueKind::kDateTime ||
            want[i].kind == ValueKind::kSingle) {
          EXPECT_EQ(row[i].d, want[i].d) << r << i;
        } else if (IsIntegerKind(want[i].kind) || want[i].kind == ValueKind::kCurrency ||
                   want[i].kind == ValueKind::kBoolean) {
          EXPECT_EQ(row[i].i, want[i].i) << r << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace ostrevane
