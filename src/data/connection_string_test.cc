#include "data/connection_string.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(ConnectionStringTest, KeysValuesQuotesAndMasking) {
  ConnectionString cs("Provider=SQLite.1; Data Source=\"a;b.db\";user id = u ;Password='p''w'");
  EXPECT_EQ(cs.Provider(), "SQLite");
  EXPECT_EQ(cs.Get("data source"), "a;b.db");
  EXPECT_EQ(cs.Get("User ID"), "u");
  EXPECT_EQ(cs.Get("password"), "p'w");
  EXPECT_EQ(MaskPasswords("Provider=X;Password=secret;PWD=\"a;b\";User ID=u"),
            "Provider=X;Password=***;PWD=***;User ID=u");
}

}  // namespace
}  // namespace ostrevane
