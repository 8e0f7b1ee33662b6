#include "writers/expanded_name.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/error.h"

namespace ostrevane {
namespace {

// Field A and field B replaced in this order, as the writers do.
std::string Expand(const std::string& tmpl, const std::string& a, const std::string& b = "") {
  ExpandedName name(tmpl);
  name.Replace(":A", a, "field A");
  name.Replace(":B", b, "field B");
  name.CheckValuesStayBelowTemplateFolder();
  return name.text();
}

TEST(ExpandedNameTest, ValuesAddLevelsBelowTheTemplateFolder) {
  struct {
    const char* tmpl;
    const char* a;
    const char* b;
    const char* expected;
  } cases[] = {
      {"out/:A.csv", "north", "", "out/north.csv"},
      {"out/:A/:B.csv", "2015\\10", "x/y", "out/2015\\10/x/y.csv"},  // "\" and "/" inside
      {"out/:A.csv", "..x", "", "out/..x.csv"},                      // no ".." level
      {"out/:A.csv", "./.", "", "out/./..csv"},
      {"../../:A.csv", "n", "", "../../n.csv"},          // the template's own ".."
      {"/abs/:a/../x.csv", "n", "", "/abs/n/../x.csv"},  // and its absolute folder
      {"out/:A/../x.csv", "n", "", "out/n/../x.csv"},    // a whole ".." level of its own
      {"out/sub/:A/../g.csv", "x/y", "", "out/sub/x/y/../g.csv"},
      {"a\tb:A.csv", "n", "", "a\tbn.csv"},  // a control character of the template
      {":A", "", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.tmpl, c.a, c.b), c.expected) << c.tmpl;
}

TEST(ExpandedNameTest, ValuesThatLeaveTheFolderAreRefused) {
  const std::string prefix = "The value of field ";
  struct {
    const char* tmpl;
    std::string a;
    std::string b;
    std::string message;
  } cases[] = {
      {"out/sub/:A.csv", "../../abs_target", "",
       "A cannot be used in a file name: \"../../abs_target\" would make a \"..\" folder level"},
      {"out/:A.csv", "x/../y", "",
       "A cannot be used in a file name: \"x/../y\" would make a \"..\" folder level"},
      {"out/:A", "..", "",
       "A cannot be used in a file name: \"..\" would make a \"..\" folder level"},
      // Levels made of the template's text and a value, or of two values.
      {"out/.:A.csv", "./x", "",
       "A cannot be used in a file name: \"./x\" would make a \"..\" folder level"},
      {"out/:A:B/x.csv", ".", ".",
       "A cannot be used in a file name: \".\" would make a \"..\" folder level"},
      // Template dots that only a value makes a level: an empty value, or
      // one that ends with a delimiter.
      {"out/.:A./x.csv", "", "",
       "A cannot be used in a file name: \"\" would make a \"..\" folder level"},
      {"out/..:B", "x", "",
       "B cannot be used in a file name: \"\" would make a \"..\" folder level"},
      {"out/:A../x.csv", "./", "",
       "A cannot be used in a file name: \"./\" would make a \"..\" folder level"},
      {"out/:A..:B/x.csv", "sub/", "",
       "A cannot be used in a file name: \"sub/\" would make a \"..\" folder level"},
      {":A.csv", "/etc/cron.d/x", "",
       "A cannot be used in a file name: \"/etc/cron.d/x\" starts with \"/\""},
      {"out/:B:A.csv", "\\x", "", "A cannot be used in a file name: \"\\x\" starts with \"\\\""},
      {"out/:A.csv", std::string("a\0b", 3), "",
       "A cannot be used in a file name: \"a?b\" holds a control character (code 0)"},
      {"out/:A:B.csv", "x", "line\r\n",
       "B cannot be used in a file name: \"line??\" holds a control character (code 13)"},
      // A value that names a later field's macro: the later value is checked.
      {"out/:A.csv", ":B", "../x",
       "B cannot be used in a file name: \"../x\" would make a \"..\" folder level"},
      {"out/:A.csv", "../" + std::string(100, 'x'), "",
       "A cannot be used in a file name: \"../" + std::string(54, 'x') +
           "...\" would make a \"..\" folder level"},
      // The template's own ".." may take back what values added, no more.
      {"out/sub/:A/../g.csv", ".", "",
       "A cannot be used in a file name: \".\" would let the template's \"..\" climb above "
       "\"out/sub/\""},
      {"out/sub/:A/../g.csv", "", "",
       "A cannot be used in a file name: \"\" would let the template's \"..\" climb above "
       "\"out/sub/\""},
      {"out/sub/:A/../g.csv", "./.", "",
       "A cannot be used in a file name: \"./.\" would let the template's \"..\" climb above "
       "\"out/sub/\""},
      {"out/:A/:B/../../../x", "a", "b",
       "B cannot be used in a file name: \"b\" would let the template's \"..\" climb above "
       "\"out/\""},
      {":A/x.csv", "", "",
       "A cannot be used in a file name: \"\" would make the name start with \"/\""},
      {":A/../x", ".", "",
       "A cannot be used in a file name: \".\" would let the template's \"..\" climb above "
       "\"./\""},
  };
  for (const auto& c : cases) {
    try {
      Expand(c.tmpl, c.a, c.b);
      ADD_FAILURE() << "accepted " << c.tmpl << " with " << c.a;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), "Exception");
      EXPECT_EQ(e.message(), prefix + c.message) << c.tmpl;
    }
  }
}

TEST(ExpandedNameTest, NamesLongerThanTheFileSystemAllowsAreRefused) {
  const std::string prefix = "The value of field A cannot be used in a file name: \"";
  struct {
    std::string tmpl;
    std::string a;
    size_t path_max;
    std::string message;  // "" when accepted
  } cases[] = {
      {"out/:A.csv", std::string(251, 'x'), 4095, ""},  // a name of 255 bytes
      {"out/:A.csv", std::string(252, 'x'), 4095,
       std::string(57, 'x') + "...\" would make a name of 256 bytes, more than the 255 that "
                              "the file system allows"},
      {"out/:A/f.csv", "a/" + std::string(256, 'y'), 4095,
       "a/" + std::string(55, 'y') +
           "...\" would make a name of 256 bytes, more than the 255 "
           "that the file system allows"},
      // The template's own text fails when its file is created.
      {"out/" + std::string(300, 't') + "/:A", "x", 4095, ""},
      {"out/:A", std::string(20, 'z'), 16,
       std::string(20, 'z') + "\" would make a path of 24 bytes, more than the 16 that the "
                              "file system allows"},
  };
  for (const auto& c : cases) {
    ExpandedName name(c.tmpl);
    name.Replace(":A", c.a, "field A");
    try {
      name.CheckLengths(255, c.path_max);
      EXPECT_EQ(c.message, "") << c.tmpl;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), prefix + c.message) << c.tmpl;
    }
  }
}

}  // namespace
}  // namespace ostrevane
