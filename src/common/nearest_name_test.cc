#include "common/nearest_name.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(NearestNameTest, SuggestsOnlyLikelySlips) {
  const std::vector<std::string> names = {"order_id", "amount", "ordered_at", "Größe", "id"};
  struct {
    const char* name;
    const char* nearest;
  } cases[] = {
      {"amout", "amount"},         // a letter left out
      {"AMOUNTT", "amount"},       // letter case aside, one added
      {"amuont", "amount"},        // two neighbours swapped: one slip
      {"orderd_at", "ordered_at"},
      {"order_di", "order_id"},
      {"GRÖSE", "Größe"},          // folded before comparing
      {"ic", ""},                  // too short to guess
      {"amnt", ""},                // two edits in four letters
      {"customer", ""},
      {"country", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NearestName(c.name, names), c.nearest) << c.name;
  EXPECT_EQ(NearestName("amout", std::vector<std::string>{}), "");
}

TEST(NearestNameTest, SettingsNames) {
  const std::vector<std::string_view> known = {"thread_count", "log_encoding", "log_dir",
                                               "Mail", "SFTP", "SMTPServer", "Port"};
  struct {
    const char* name;
    const char* nearest;
  } cases[] = {
      {"thread_cout", "thread_count"},
      {"log_encodng", "log_encoding"},
      {"Mial", "Mail"},
      {"smtpservr", "SMTPServer"},
      {"LOG_DIR", "log_dir"},
      {"logdirectory", ""},
      {"Pt", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NearestName(c.name, known), c.nearest) << c.name;
}

TEST(NearestNameTest, ListsAreCut) {
  EXPECT_EQ(NameList({"a", "b", "c"}, 3), "a, b, c");
  EXPECT_EQ(NameList({"a", "b", "c", "d"}, 3), "a, b, c, ...");
  EXPECT_EQ(NameList({}, 3), "");
}

}  // namespace
}  // namespace ostrevane
