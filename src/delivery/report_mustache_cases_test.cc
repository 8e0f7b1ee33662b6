// The template language's own published test cases (tests/mustache_cases,
// copied unchanged) rendered through the report's engine: the same
// preparation of the template text, the same lookup and the same limits as
// a report, over the case's data instead of a result set.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "common/json_reader.h"
#include "delivery/report_engine.h"

namespace ostrevane::delivery {
namespace {

// Cases the report cannot express, by file and name, with the reason.
const std::map<std::string, std::string> kNotExpressible = {
    {"delimiters/Partial Inheritence",
     "a report is one template file: it has no partials to include"},
    {"delimiters/Post-Partial Behavior",
     "a report is one template file: it has no partials to include"},
    {"interpolation/Dotted Names are never single keys",
     "a field name may hold a dot (\"t.id\" from a join); the report finds {{t.id}} as that "
     "one name when no path of that name exists"},
};

// JSON data as the engine's data. A number keeps its text as written; null
// is false, as a NULL field value is in a report.
mstch::data ToData(const JsonValue& v) {
  switch (v.kind) {
    case JsonValue::Kind::kNull:
      return mstch::data(false);
    case JsonValue::Kind::kBool:
      return mstch::data(v.boolean);
    case JsonValue::Kind::kNumber:
    case JsonValue::Kind::kString:
      return mstch::data(v.text);
    case JsonValue::Kind::kArray: {
      mstch::data list{mstch::data::type::list};
      for (const JsonValue& item : v.items) list.push_back(ToData(item));
      return list;
    }
    case JsonValue::Kind::kObject: {
      mstch::data object{mstch::data::type::object};
      for (const auto& [name, member] : v.members) object.set(name, ToData(member));
      return object;
    }
  }
  return mstch::data(false);
}

std::string ReadCaseFile(const std::string& name) {
  std::ifstream in(std::string(OSTREVANE_SOURCE_DIR) + "/tests/mustache_cases/" + name + ".json",
                   std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class MustacheCasesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MustacheCasesTest, EveryExpressibleCasePasses) {
  const std::string file = GetParam();
  const JsonValue case_file = ParseJson(ReadCaseFile(file));
  const JsonValue* tests = case_file.Find("tests");
  ASSERT_TRUE(tests && !tests->items.empty()) << file;
  std::set<std::string> skipped;
  for (const JsonValue& test : tests->items) {
    const std::string name = test.Find("name")->text;
    const std::string id = file + "/" + name;
    if (kNotExpressible.count(id)) {
      skipped.insert(id);
      continue;
    }
    const mstch::data data = ToData(*test.Find("data"));
    std::string rendered;
    try {
      rendered = RenderTemplate(test.Find("template")->text, PlainTemplateData(data), {}, id);
    } catch (const std::exception& e) {
      ADD_FAILURE() << id << ": " << e.what();
      continue;
    }
    EXPECT_EQ(rendered, test.Find("expected")->text)
        << id << ": " << test.Find("desc")->text << "\ntemplate: " << test.Find("template")->text;
  }
  // A skipped name that no longer exists in the file is a stale entry.
  for (const auto& [id, reason] : kNotExpressible)
    if (id.rfind(file + "/", 0) == 0) {
      EXPECT_TRUE(skipped.count(id)) << "no case " << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, MustacheCasesTest,
                         ::testing::Values("comments", "delimiters", "interpolation", "sections",
                                           "inverted"));

}  // namespace
}  // namespace ostrevane::delivery
