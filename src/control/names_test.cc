#include "control/names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/error.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(NamesTest, LoadsEveryLineAndFindsByDataSource) {
  TempDir dir;
  WriteFile(dir / "names.csv",
            "Sales;SRV01\r\n"
            "\r\n"                             // a blank line is a row that never matches
            "\"\"North; South\"\";SRV;02;x\n"  // quoted ";" and ignored third field
            "Empty;\r"                         // empty data source never matches
            "Plain \"quote\";srv03");          // a single quote is plain text
  const NamesTable t = LoadNamesTable(dir.path() + "/");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[2].display_name, "North; South");
  EXPECT_EQ(t[2].data_source, "SRV");
  EXPECT_EQ(t[4].display_name, "Plain \"quote\"");

  struct {
    std::string ds, name;
  } cases[] = {
      {"SRV01", "Sales"}, {"srv01", "Sales"}, {"SRV02", "SRV02"}, {"Srv", "North; South"},
      {"SRV03", "Plain \"quote\""}, {"", ""}, {"  ", "  "},  // blank: unchanged
      {" SRV01", " SRV01"},                                   // not trimmed for the lookup
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayNameOf(t, c.ds), c.name) << c.ds;
}

TEST(NamesTest, EncodingsAndMissingFile) {
  TempDir dir;
  EXPECT_TRUE(LoadNamesTable(dir.path() + "/").empty());
  WriteFile(dir / "names.csv", "\xFF\xFE" + std::string("V\0e\0n\0t\0e\0s\0;\0S\0\n\0", 18));
  NamesTable t = LoadNamesTable(dir.path() + "/");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(DisplayNameOf(t, "s"), "Ventes");
}

TEST(NamesTest, UnclosedDoubledQuoteEndsTheLoad) {
  TempDir dir;
  WriteFile(dir / "names.csv", "Sales;SRV01\n\"\"Open;SRV02\n");
  try {
    LoadNamesTable(dir.path() + "/");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), "Exception");
    EXPECT_EQ(e.message(), "Can't find 2nd insulator '\"\"':\r\nOpen;SRV02");
  }
  // A names.csv that is a directory is reported, not taken as absent.
  TempDir home;
  std::filesystem::create_directory(home / "names.csv");
  EXPECT_THROW(LoadNamesTable(home.path() + "/"), Error);
}

}  // namespace
}  // namespace ostrevane
