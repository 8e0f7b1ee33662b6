#include "common/json_reader.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace ostrevane {
namespace {

TEST(JsonReaderTest, ReadsValuesAndRefusesBrokenOrTooDeepDocuments) {
  const JsonValue v = ParseJson(R"({"a": [1, -2.5e3, true, null], "b": "x\u00e9\n", "c": {}})");
  ASSERT_EQ(v.kind, JsonValue::Kind::kObject);
  ASSERT_NE(v.Find("a"), nullptr);
  EXPECT_EQ(v.Find("a")->items.at(1).text, "-2.5e3");
  EXPECT_EQ(v.Find("b")->text, "x\xC3\xA9\n");
  EXPECT_EQ(v.Find("missing"), nullptr);

  struct {
    std::string text, message;
  } cases[] = {
      {"", "JSON: unexpected end at offset 0"},
      {"{\"a\": 1", "JSON: expected '}' at offset 7"},
      {"[1] x", "JSON: text after the value at offset 4"},
      {std::string(kJsonDepthLimit + 1, '['), "JSON: nested too deep at offset 200"},
  };
  for (const auto& row : cases) {
    try {
      ParseJson(row.text);
      ADD_FAILURE() << row.text;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), row.message) << row.text;
    }
  }
  // As deep as allowed still reads.
  EXPECT_NO_THROW(ParseJson(std::string(kJsonDepthLimit, '[') + std::string(kJsonDepthLimit, ']')));
}

}  // namespace
}  // namespace ostrevane
