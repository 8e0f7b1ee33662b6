#include "writers/output_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrevane {
namespace {

TEST(OutputPathTest, SplitsAtTheTemplatesFolderAndSpellsEachPathOnce) {
  struct {
    const char* name;
    size_t fixed;  // bytes of the template's own text
    const char* base;
    std::vector<std::string> levels;
    const char* file;
    bool file_fixed;
    const char* key;
  } cases[] = {
      {"out/x.csv", 4, "out/", {}, "x.csv", false, "out/x.csv"},
      {"out/./x.csv", 4, "out/", {}, "x.csv", false, "out/x.csv"},
      {"out//a//b.csv", 4, "out/", {"a"}, "b.csv", false, "out/a/b.csv"},
      {"out/a/./b.csv", 4, "out/", {"a"}, "b.csv", false, "out/a/b.csv"},
      {"out\\a\\b.csv", 4, "out/", {"a"}, "b.csv", false, "out/a/b.csv"},
      // The template's own spelling is cleaned too; its ".." stays.
      {".//out/./sub/x", 13, "out/sub/", {}, "x", false, "out/sub/x"},
      {"../../x", 6, "../../", {}, "x", false, "../../x"},
      // A ".." below the template's folder takes back the level before.
      {"out/sub/x/../g.csv", 8, "out/sub/", {}, "g.csv", false, "out/sub/g.csv"},
      {"out/a/b/../c/d.csv", 4, "out/", {"a", "c"}, "d.csv", false, "out/a/c/d.csv"},
      // A template with no macro names its file itself.
      {"out/sub/x.csv", 13, "out/sub/", {}, "x.csv", true, "out/sub/x.csv"},
      {"/abs/x.csv", 10, "/abs/", {}, "x.csv", true, "/abs/x.csv"},
      {"x.csv", 0, "", {}, "x.csv", false, "x.csv"},
      // A name that ends in a folder has no file.
      {"out/a/", 4, "out/", {"a"}, "", false, "out/a/"},
      {"out/a/.", 4, "out/", {"a"}, "", false, "out/a/"},
  };
  for (const auto& c : cases) {
    OutputPath path;
    ASSERT_TRUE(OutputPath::Split(c.name, c.fixed, &path)) << c.name;
    EXPECT_EQ(path.base, c.base) << c.name;
    EXPECT_EQ(path.levels, c.levels) << c.name;
    EXPECT_EQ(path.file, c.file) << c.name;
    EXPECT_EQ(path.file_fixed, c.file_fixed) << c.name;
    EXPECT_EQ(path.Key(), c.key) << c.name;
  }
  // Climbing above the template's folder has no place.
  for (const char* name : {"out/sub/../g.csv", "out/sub/./../g.csv", "out/sub/a/../../g"}) {
    OutputPath path;
    EXPECT_FALSE(OutputPath::Split(name, 8, &path)) << name;
  }
}

}  // namespace
}  // namespace ostrevane
