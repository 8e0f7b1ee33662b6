#include "control/cut_field.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/error.h"

namespace ostrevane {
namespace {

const std::string kQuote = "\"";
const std::string kDoubledQuote = "\"\"";
const std::string kNul(1, '\0');

// Cuts tokens until the source is empty (at least one cut).
std::vector<std::string> CutAll(std::string source, const std::string& delimiter,
                                const std::string& insulator) {
  std::vector<std::string> tokens;
  do tokens.push_back(CutField(source, delimiter, insulator));
  while (!source.empty());
  return tokens;
}

struct Case {
  std::string source, delimiter, insulator;
  std::vector<std::string> tokens;
};
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << "source [" << c.source << "] delimiter [" << c.delimiter << "]";
}

TEST(CutTokenTest, CutsTokensWithQuotedParts) {
  const Case cases[] = {
      {"", " ", kQuote, {""}},
      {"abc", " ", kQuote, {"abc"}},
      {" a", " ", kQuote, {"", "a"}},
      {"a  b", " ", kQuote, {"a", "", "b"}},
      {"ab \"c d\" e", " ", kQuote, {"ab", "c d", "e"}},
      {"a\"\"b", " ", kQuote, {"a\"b"}},           // empty quoted part: one quote
      {"\"a\"\"b\"", " ", kQuote, {"ab"}},         // doubled quote closes and reopens
      {"x\"a b\"y", " ", kQuote, {"xa by"}},       // text, quoted part, text
      {"a b\"c d\"", " ", kQuote, {"a", "bc d"}},  // quote after the delimiter waits
      {"\"\"", " ", kQuote, {"\""}},
      // A delimiter inside quotes, behind the first delimiter seen, is skipped.
      {"\"a;b\"c;d", ";", kQuote, {"a;bc", "d"}},
      {"\"a\"b\"c;d\"e;f", ";", kQuote, {"abc;de", "f"}},
      {"a;;b", ";", "", {"a", "", "b"}},
      {"a;", ";", "", {"a"}},
      {"\"a b\"", " ", kNul, {"\"a", "b\""}},  // U+0000 switches quoting off
      // names.csv: a field in doubled double quotes protects ";".
      {"\"\"a;b\"\";c", ";", kDoubledQuote, {"a;b", "c"}},
      {"a\"b;c", ";", kDoubledQuote, {"a\"b", "c"}},
      {"a\"\"\"\"b", ";", kDoubledQuote, {"a\"\"b"}},
      {"a b", "", kQuote, {"a b"}},  // an empty delimiter is never found
  };
  for (const Case& c : cases) EXPECT_EQ(CutAll(c.source, c.delimiter, c.insulator), c.tokens) << c;
}

TEST(CutTokenTest, UnclosedInsulatorReportsTheRest) {
  struct {
    std::string source, insulator, message, rest;
  } cases[] = {
      {"x\"abc", kQuote, "Can't find 2nd insulator '\"':\r\nabc", "abc"},
      {"\"\"a;b", kDoubledQuote, "Can't find 2nd insulator '\"\"':\r\na;b", "a;b"},
      {"\"a\"\"b c", kQuote, "Can't find 2nd insulator '\"':\r\nb c", "b c"},
  };
  for (auto& c : cases) {
    std::string source = c.source;
    try {
      CutField(source, c.insulator.size() == 1 ? " " : ";", c.insulator);
      ADD_FAILURE() << "no error for " << c.source;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), "Exception") << c.source;
      EXPECT_EQ(e.message(), c.message) << c.source;
      EXPECT_EQ(source, c.rest) << c.source;
    }
  }
  // The first token is fine; the error comes with the second.
  std::string line = "a \"b c";
  EXPECT_EQ(CutField(line, " ", kQuote), "a");
  EXPECT_THROW(CutField(line, " ", kQuote), Error);
}

TEST(CutTokenTest, ViewOverloadAdvancesWithoutCopying) {
  const std::string text = "-sql:\"C:\\my jobs\\q.sql\" -tocsv:out.csv";
  std::string_view view(text);
  EXPECT_EQ(CutField(view, " ", kQuote), "-sql:C:\\my jobs\\q.sql");
  EXPECT_EQ(view, "-tocsv:out.csv");
  EXPECT_EQ(view.data(), text.data() + text.size() - view.size());
}

}  // namespace
}  // namespace ostrevane
