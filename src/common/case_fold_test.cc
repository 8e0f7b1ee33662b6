#include "common/case_fold.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace ostrevane {
namespace {

TEST(CaseFoldTest, SimpleFoldingOfOneCodePoint) {
  struct {
    char32_t in, out;
    const char* what;
  } cases[] = {
      {U'A', U'a', "ASCII"},
      {U'a', U'a', "lower case stays"},
      {0x00C4, 0x00E4, "A with diaeresis"},
      {0x00D6, 0x00F6, "O with diaeresis"},
      {0x03A3, 0x03C3, "capital sigma"},
      {0x03C2, 0x03C3, "final sigma folds to sigma"},
      {0x03A9, 0x03C9, "capital omega"},
      {0x2126, 0x03C9, "ohm sign"},
      {0x00B5, 0x03BC, "micro sign"},
      {0x212A, U'k', "Kelvin sign"},
      {0x017F, U's', "long s"},
      {U'I', U'i', "I folds to i, not to dotless i"},
      {0x0130, 0x0130, "I with dot above: no simple folding"},
      {0x0131, 0x0131, "dotless i stays"},
      {0x00DF, 0x00DF, "sharp s stays (ss is full folding)"},
      {0x1E9E, 0x00DF, "capital sharp s folds to sharp s"},
      {0x0416, 0x0436, "Cyrillic zhe"},
      {0x0401, 0x0451, "Cyrillic io"},
      {0x0100, 0x0101, "Latin extended, every second code point"},
      {0x0101, 0x0101, "its lower case stays"},
      {0x01C4, 0x01C6, "DZ with caron"},
      {0x01C5, 0x01C6, "title case Dz with caron"},
      {0x1F88, 0x1F80, "Greek with prosgegrammeni: the S entry"},
      {0xAB70, 0x13A0, "Cherokee folds to upper case"},
      {0x10400, 0x10428, "Deseret, outside the BMP"},
      {0xFF21, 0xFF41, "fullwidth A"},
      {0x4E2D, 0x4E2D, "CJK has no case"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(uint32_t(FoldCase(c.in)), uint32_t(c.out)) << c.what;
}

TEST(CaseFoldTest, NamesEqual) {
  struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"ÄPFEL", "äpfel", true},
      {"Äpfel", "äPFEL", true},
      {"ΣΟΦΟΣ", "σοφος", true},  // final sigma
      {"ΣΟΦΟΣ", "σοφοσ", true},
      {"ПРИВЕТ", "привет", true},
      {"\u212Aelvin", "KELVIN", true},  // Kelvin sign
      {"STRASSE", "straße", false},     // simple folding keeps ß
      {"STRAẞE", "straße", true},
      {"İ", "i", false},
      {"İ", "I", false},
      {"ı", "I", false},
      {"ID", "id", true},
      {"a", "ab", false},
      {"", "", true},
      {"Ä", "A", false},
      {"\xFF", "\xFF", true},     // a byte that is no UTF-8 equals itself
      {"\xC4", "\xE4", false},    // and is not folded like the character
      {"\xC3", "\xC3\x84", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NamesEqual(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(NamesEqual(c.b, c.a), c.same) << c.b << " / " << c.a;
    EXPECT_EQ(FoldCase(c.a) == FoldCase(c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(IEquals(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
}

TEST(CaseFoldTest, FindNameGivesTheMatchInTheHaystack) {
  struct {
    const char* hay;
    const char* needle;
    size_t from, pos, size;
  } cases[] = {
      {"out_:ÄPFEL.csv", ":äpfel", 0, 4, 7},
      {"out_:äpfel.csv", ":ÄPFEL", 0, 4, 7},
      {"a\u212Ab", "k", 0, 1, 3},   // the match is longer than the needle
      {"akb", "\u212A", 0, 1, 1},   // and shorter
      {"xÄy", "y", 0, 3, 1},
      {"abcABC", "Bc", 2, 4, 2},
      {"abc", "", 0, std::string::npos, 0},
      {"ab", "abc", 0, std::string::npos, 0},
      {"straße", "SS", 0, std::string::npos, 0},
  };
  for (const auto& c : cases) {
    const NameMatch m = FindName(c.hay, c.needle, c.from);
    EXPECT_EQ(m.pos, c.pos) << c.hay << " / " << c.needle;
    if (m) {
      EXPECT_EQ(m.size, c.size) << c.hay << " / " << c.needle;
    }
  }
  EXPECT_EQ(ReplaceAllIgnoreCase("a\u212Ab:K", "k", "-"), "a-b:-");
  EXPECT_EQ(ReplaceAllIgnoreCase("Σ-ς-σ", "σ", "s"), "s-s-s");
}

}  // namespace
}  // namespace ostrevane
