#include "common/json_writer.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(JsonStringTest, EscapesWhatJsonForbidsAndReplacesInvalidUtf8) {
  struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\" \\ /", "\"say \\\"hi\\\" \\\\ /\""},
      {"a\nb\rc\td\be\ff", "\"a\\nb\\rc\\td\\be\\ff\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      {"a\xC2\x80\xC2\x9F\xC2\xA0", "\"a\\u0080\\u009f\xC2\xA0\""},  // C1 controls, then NBSP
      // Valid UTF-8 of every length passes unchanged.
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
      // One U+FFFD per byte that is not part of valid UTF-8.
      {"a\xFF" "b", "\"a\xEF\xBF\xBD" "b\""},
      {"\xC3", "\"\xEF\xBF\xBD\""},                                  // cut off
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong "/"
      {"\xE0\x80\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // overlong
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // > U+10FFFF
      {"\xE2\x82x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},  // a sequence broken by ASCII
      {"\x80\xC3\xA9", "\"\xEF\xBF\xBD\xC3\xA9\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.input), c.expected) << c.input;
}

TEST(JsonWriterTest, NestsObjectsAndArraysWithCommas) {
  JsonWriter json;
  json.BeginObject();
  json.Key("n");
  json.Int(-12);
  json.Key("list");
  json.BeginArray();
  json.BeginObject();
  json.Key("ok");
  json.Bool(true);
  json.EndObject();
  json.Null();
  json.EndArray();
  json.Key("empty");
  json.BeginArray();
  json.EndArray();
  json.Key("s\"");
  json.String("x");
  json.EndObject();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"n\": -12,\n"
            "  \"list\": [\n"
            "    {\n"
            "      \"ok\": true\n"
            "    },\n"
            "    null\n"
            "  ],\n"
            "  \"empty\": [],\n"
            "  \"s\\\"\": \"x\"\n"
            "}\n");
}

}  // namespace
}  // namespace ostrevane
