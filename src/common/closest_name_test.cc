#include "common/closest_name.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(ClosestNameTest, SuggestsOnlyNamesASlipAway) {
  const std::vector<std::string_view> known = {"thread_count", "log_encoding", "log_dir",
                                               "Mail", "SFTP", "SMTPServer", "Port"};
  struct {
    const char* name;
    const char* closest;
  } cases[] = {
      {"thread_cout", "thread_count"},  // one left out
      {"log_encodng", "log_encoding"},
      {"Mial", "Mail"},                 // two swapped count as one edit
      {"smtpservr", "SMTPServer"},      // without regard to case
      {"LOG_DIR", "log_dir"},
      {"logdirectory", ""},             // too far from anything
      {"Pt", ""},                       // short names allow one edit only
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ClosestName(c.name, known), c.closest) << c.name;
}

}  // namespace
}  // namespace ostrevane
