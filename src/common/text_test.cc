#include "common/text.h"

#include <gtest/gtest.h>


namespace ostrevane {
namespace {

TEST(TextTest, TrimRemovesControlsAndSpaces) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(Trim("   "), "");
}

TEST(TextTest, SplitLinesAcceptsEveryLineEnd) {
  struct { const char* in; std::vector<std::string> out; } cases[] = {
      {"", {}}, {"a", {"a"}}, {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\n", {"a"}}, {"a\n\nb", {"a", "", "b"}}, {"\r\n", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.in), c.out) << c.in;
}

TEST(TextTest, Utf16RoundTripAndInvalidBytes) {
  const std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
  EXPECT_EQ(Utf8ToUtf16("\xFF").front(), u'\xFFFD');
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));
  EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

TEST(TextTest, CaseInsensitiveReplaceAndFind) {
  EXPECT_EQ(ReplaceAllIgnoreCase("x?guid?GUID", "?GUID", "G"), "xGG");
  EXPECT_EQ(IFind("abcABC", "Bc", 2), 4u);
}

}  // namespace
}  // namespace ostrevane
