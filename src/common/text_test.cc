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
  // Unpaired surrogates, at the end too, become U+FFFD; a reused target
  // holds exactly the new text.
  struct {
    std::u16string in;
    std::string out;
  } cases[] = {{u"x\xD800y", "x\xEF\xBF\xBDy"},
               {u"\xDC00", "\xEF\xBF\xBD"},
               {u"z\xD83D", "z\xEF\xBF\xBD"},
               {u"\xD83D\xDE00\x07FF\x0800", "\xF0\x9F\x98\x80\xDF\xBF\xE0\xA0\x80"},
               {u"", ""}};
  std::string reused = "a longer text than any case";
  for (const auto& c : cases) {
    AssignUtf16AsUtf8(reused, c.in);
    EXPECT_EQ(reused, c.out);
    EXPECT_EQ(Utf16ToUtf8(c.in), c.out);
  }
  AssignSanitizedUtf8(reused, "a\xFF" "b");
  EXPECT_EQ(reused, "a\xEF\xBF\xBD" "b");
  AssignSanitizedUtf8(reused, "ok");
  EXPECT_EQ(reused, "ok");
}

TEST(TextTest, CaseInsensitiveReplaceAndFind) {
  EXPECT_EQ(ReplaceAllIgnoreCase("x?guid?GUID", "?GUID", "G"), "xGG");
  EXPECT_EQ(IFind("abcABC", "Bc", 2), 4u);
}

// Everything that could end a line, hide text or turn it around on a
// screen is shown escaped; other text, ASCII or not, stays as it is.
TEST(TextTest, ShowControlCharactersEscapesLineBreakersAndBidiControls) {
  struct {
    std::string in;
    std::string shown;
  } cases[] = {
      {"plain caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "plain caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\r\nb\tc", "a\\r\\nb\\tc"},
      {std::string("nul\0", 4) + "\x07\x1B\x7F", "nul\\x00\\x07\\x1B\\x7F"},
      {"NEL\xC2\x85 C1\xC2\x80\xC2\x9F", "NEL\\u0085 C1\\u0080\\u009F"},
      {"LS\xE2\x80\xA8PS\xE2\x80\xA9", "LS\\u2028PS\\u2029"},
      {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE",
       "\\u202A\\u202B\\u202C\\u202D\\u202E"},
      {"\xE2\x81\xA6\xE2\x81\xA9 \xE2\x80\x8E\xE2\x80\x8F \xD8\x9C",
       "\\u2066\\u2069 \\u200E\\u200F \\u061C"},
      {"\xC2\xA0 \xE2\x80\xAF \xE2\x81\xAA", "\xC2\xA0 \xE2\x80\xAF \xE2\x81\xAA"},  // no controls
      {"bad \xFF\xC2 end\xE2\x80", "bad \\xFF\\xC2 end\\xE2\\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShowControlCharacters(c.in), c.shown) << c.shown;
}

TEST(TextTest, CutForMessageKeepsBothEndsAndSaysHowMuchWasCut) {
  EXPECT_EQ(CutForMessage("short", 10), "short");
  EXPECT_EQ(CutForMessage("0123456789", 10), "0123456789");
  EXPECT_EQ(CutForMessage("0123456789ab", 10), "01234[... 2 bytes cut ...]789ab");
  // Whole UTF-8 characters only: "é" is two bytes.
  const std::string e = "\xC3\xA9";
  EXPECT_EQ(CutForMessage("ab" + e + e + e + e + "yz", 6), "ab[... 8 bytes cut ...]yz");
  const std::string huge(50'000'000, 'v');
  const std::string cut = CutForMessage(huge);
  EXPECT_EQ(cut.size(), kQuotedValueLimit + std::string("[... 49998976 bytes cut ...]").size());
  EXPECT_NE(cut.find("[... 49998976 bytes cut ...]"), std::string::npos);
}

}  // namespace
}  // namespace ostrevane
