#include "data/connection_string.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

TEST(ConnectionStringTest, KeysValuesQuotesAndMasking) {
  ConnectionString cs("Provider=SQLite.1; Data Source=\"a;b.db\";user id = u ;Password='p''w'");
  EXPECT_EQ(cs.Provider(), "SQLite");
  EXPECT_EQ(cs.Get("data source"), "a;b.db");
  EXPECT_EQ(cs.Get("User ID"), "u");
  EXPECT_EQ(cs.Get("password"), "p'w");
  EXPECT_EQ(MaskSecrets("Provider=X;Password=secret;PWD=\"a;b\";User ID=u"),
            "Provider=X;Password=***;PWD=***;User ID=u");
}

TEST(ConnectionStringTest, MaskingFindsEveryPasswordByParsing) {
  struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"Provider=PostgreSQL;Data Source=h;sslpassword=Leak4SslKey;User ID=u",
       "Provider=PostgreSQL;Data Source=h;sslpassword=***;User ID=u"},
      {"Provider=ODBC;Driver=x;PWD={Leak5;Brace}};x};UID=u",
       "Provider=ODBC;Driver=x;PWD=***;UID=u"},
      {"Provider=MSDASQL;Extended Properties=\"DSN=x;UID=u;PWD=Leak3Ext\";User ID=v",
       "Provider=MSDASQL;Extended Properties=\"DSN=x;UID=u;PWD=***\";User ID=v"},
      {"Provider=ODBC;Driver={a;b};Pwd = 'it''s;x' ;Mode=1",
       "Provider=ODBC;Driver={a;b};Pwd =***;Mode=1"},
      {"MyAppPassword=k1;PASSWORD=k2", "MyAppPassword=***;PASSWORD=***"},
      // A password "e": text elsewhere that holds the letter stays as it is.
      {"Provider=PostgreSQL;User ID=postgres;Password=e",
       "Provider=PostgreSQL;User ID=postgres;Password=***"},
      {"Password=", "Password=***"},
      // A brace without a ";" after it: the driver may read one value up to
      // the last ";", this parser a second key that ends in "Password".
      {"Provider=X;A={x;y}z Password=Leak6Brace;User ID=u",
       "Provider=X;A={x;y}z Password=***;User ID=u"},
      {"A={x;Pwd=Leak7}junk;Pwd=k2", "A={x;Pwd=***;Pwd=***"},
      {"no keys at all; PasswordHint", "no keys at all; PasswordHint"},
  };
  for (const auto& row : cases) EXPECT_EQ(MaskSecrets(row.text), row.masked) << row.text;
}

TEST(ConnectionStringTest, BracedValuesAreOneValueKeptWhole) {
  struct {
    const char* text;
    const char* key;
    const char* value;
    const char* masked;
  } cases[] = {
      {"Provider=MSDASQL;PWD={Pw!x9;q};UID=u", "PWD", "{Pw!x9;q}", "Provider=MSDASQL;PWD=***;UID=u"},
      {"PWD={Pw!x9;q}", "PWD", "{Pw!x9;q}", "PWD=***"},
      {"Password={a}}b;c} ;User ID=u", "Password", "{a}}b;c}", "Password=***;User ID=u"},
      {"Driver={MariaDB Unicode};PWD=s", "Driver", "{MariaDB Unicode}", "Driver={MariaDB Unicode};PWD=***"},
      // Text after the closing brace: no braced value, read up to the ";".
      {"A={x;y}z;PWD={p;q}", "A", "{x", "A={x;y}z;PWD=***"},
      {"A={never closed;PWD=s", "A", "{never closed", "A={never closed;PWD=***"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(ConnectionString(row.text).Get(row.key), row.value) << row.text;
    EXPECT_EQ(MaskSecrets(row.text), row.masked) << row.text;
  }
}

// A value from the environment goes in whole, whatever it holds: no
// quoting in the data-link file is needed, and none can break.
TEST(ConnectionStringTest, EnvironmentValuesGoInWholeAndOnlyIntoValues) {
  testing::TempDir dir;
  testing::WriteFile(dir / "pw", "a;b\"c'd}\n");
  ::setenv("OSTREVANE_TEST_USER", "ann", 1);
  ConnectionString cs("Provider=PostgreSQL;User ID=${OSTREVANE_TEST_USER};Password=${file:" +
                      dir / "pw" + "};${OSTREVANE_TEST_USER}=x;Note=$${literal}");
  cs.ExpandEnvironmentValues();
  EXPECT_EQ(cs.Get("User ID"), "ann");
  EXPECT_EQ(cs.Get("Password"), "a;b\"c'd}");
  EXPECT_EQ(cs.Get("${OSTREVANE_TEST_USER}"), "x");
  EXPECT_EQ(cs.Get("Note"), "${literal}");
  EXPECT_EQ(cs.entries().size(), 5u);
}

}  // namespace
}  // namespace ostrevane
