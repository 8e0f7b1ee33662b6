#include "writers/json_lines_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "common/json_reader.h"
#include "testing/json_lines.h"
#include "testing/writer_fixture.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

struct JsonLinesTest : testing::WriterFixture {
  const FormatSettings formats = DefaultFormatSettings();
  void Write() { WriteJsonFiles(job, *query, formats, " "); }
  std::string Name(const std::string& n) { return dir / n; }
};

Value Of(ValueKind kind, std::string text) {
  Value v;
  v.SetText(text, kind);
  return v;
}
Value Double(double d) {
  Value v;
  v.SetDouble(d);
  return v;
}

// Every value kind, and the field types that decide where the value leaves
// a choice. Each case is one record of one field F.
TEST_F(JsonLinesTest, ValuesAreTyped) {
  Value single, currency, negative_currency, yes, at, at_ms;
  single.SetSingle(0.1f);
  currency.SetCurrency(123400);
  negative_currency.SetCurrency(-5);
  yes.SetBoolean(true);
  at.SetDateTime(EncodeDateTime(2026, 12, 10, 13, 56, 2));
  at_ms.SetDateTime(EncodeDateTime(2026, 12, 10, 13, 56, 2, 123));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    const char* label;
    FieldType type;
    Value value;
    std::string json;
  } cases[] = {
      {"null", FieldType::kInteger, Value::Null(), "null"},
      {"integer", FieldType::kInteger, Value::Integer(-42), "-42"},
      {"largest integer", FieldType::kLargeint, Value::Integer(INT64_MAX), "9223372036854775807"},
      {"exact decimal", FieldType::kFMTBcd, Of(ValueKind::kDecimal, "12345.12345678901234567890"),
       "12345.1234567890123456789"},
      {"decimal below one", FieldType::kBCD, Of(ValueKind::kDecimal, "-.05"), "-0.05"},
      {"decimal NaN", FieldType::kFMTBcd, Of(ValueKind::kDecimal, "NaN"), "null"},
      {"currency", FieldType::kCurrency, currency, "12.34"},
      {"small currency", FieldType::kCurrency, negative_currency, "-0.0005"},
      {"double", FieldType::kFloat, Double(0.1), "0.1"},
      {"huge double", FieldType::kFloat, Double(1e300), "1e+300"},
      {"NaN", FieldType::kFloat, Double(nan), "null"},
      {"infinity", FieldType::kFloat, Double(-inf), "null"},
      {"single", FieldType::kSingle, single, "0.1"},
      {"Boolean", FieldType::kBoolean, yes, "true"},
      {"Boolean field, integer value", FieldType::kBoolean, Value::Integer(0), "false"},
      {"Boolean field, text value", FieldType::kBoolean, Value::Text("TRUE"), "true"},
      {"date-time", FieldType::kDateTime, at, "\"2026-12-10T13:56:02\""},
      {"milliseconds", FieldType::kDateTime, at_ms, "\"2026-12-10T13:56:02.123\""},
      {"date", FieldType::kDate, at, "\"2026-12-10\""},
      {"time", FieldType::kTime, at_ms, "\"13:56:02.123\""},
      {"text", FieldType::kString, Value::Text("say \"hi\"\\ \xC3\xA9"),
       "\"say \\\"hi\\\"\\\\ \xC3\xA9\""},
      {"control characters", FieldType::kString, Value::Text(std::string("\x00\x01\t\r\n\x7F\xC2\x85", 8)),
       "\"\\u0000\\u0001\\t\\r\\n\\u007f\\u0085\""},
      {"no UTF-8", FieldType::kString, Value::Text("a\xFF" "b\xC3"), "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\""},
      {"number as text in a number field", FieldType::kInteger, Value::Text("12"), "12"},
      {"other text in a number field", FieldType::kInteger, Value::Text("n/a"), "\"n/a\""},
      {"GUID", FieldType::kGuid, Of(ValueKind::kGuid, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"),
       "\"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\""},
      {"binary", FieldType::kVarBytes, testing::Bytes(std::string("\x00\xFF\x10", 3)), "\"AP8Q\""},
  };
  std::string all;
  for (const auto& c : cases) {
    Open({{"F", c.type, 0}}, {{c.value}});
    job.json_path = Name("v.jsonl");
    Write();
    const std::string line = ReadFile(job.json_path);
    EXPECT_EQ(line, "{\"F\":" + c.json + "}\n") << c.label;
    all += line;
  }
  // Python's json module and jq read every line.
  WriteFile(Name("all.jsonl"), all);
  EXPECT_EQ(testing::JsonLinesProblems({Name("all.jsonl")}), "");
}

// Keys are the field names, each once: a name that comes again is
// numbered; any text is a key.
TEST_F(JsonLinesTest, KeysAreUniqueFieldNames) {
  Open({{"id", FieldType::kInteger, 0},
        {"id", FieldType::kInteger, 0},
        {"id2", FieldType::kInteger, 0},
        {"", FieldType::kInteger, 0},
        {"a \"b\"", FieldType::kInteger, 0}},
       {{Value::Integer(1), Value::Integer(2), Value::Integer(3), Value::Integer(4),
         Value::Integer(5)}});
  job.json_path = Name("k.jsonl");
  Write();
  EXPECT_EQ(ReadFile(job.json_path), "{\"id\":1,\"id3\":2,\"id2\":3,\"\":4,\"a \\\"b\\\"\":5}\n");
}

// Records not grouped by the name: a name that comes back continues its
// file; every line ends with LF, the last one too. An empty result writes
// nothing.
TEST_F(JsonLinesTest, NameThatComesBackExtendsItsFile) {
  Open({{"ID", FieldType::kInteger, 0}, {"R", FieldType::kString, 1}},
       {{Value::Integer(1), Value::Text("A")},
        {Value::Integer(2), Value::Text("B")},
        {Value::Integer(3), Value::Text("A")}});
  job.json_path = Name(":R.jsonl");
  job.written_files = {"x.csv"};  // the CSV writer's, before
  Write();
  EXPECT_EQ(job.written_files,
            (std::vector<std::string>{"x.csv", Name("A.jsonl"), Name("B.jsonl")}));
  EXPECT_EQ(job.json_files, (std::vector<std::string>{Name("A.jsonl"), Name("B.jsonl")}));
  EXPECT_EQ(ReadFile(Name("A.jsonl")), "{\"ID\":1,\"R\":\"A\"}\n{\"ID\":3,\"R\":\"A\"}\n");
  EXPECT_EQ(ReadFile(Name("B.jsonl")), "{\"ID\":2,\"R\":\"B\"}\n");
  EXPECT_TRUE(query->Eof());
  ASSERT_EQ(job.written_digests.size(), 2u);
  EXPECT_EQ(job.written_digests[0].bytes, int64_t(ReadFile(Name("A.jsonl")).size()));

  Open({{"ID", FieldType::kInteger, 0}}, {});
  job.json_path = Name("none.jsonl");
  Write();
  EXPECT_FALSE(std::filesystem::exists(Name("none.jsonl")));
}

}  // namespace
}  // namespace ostrevane
