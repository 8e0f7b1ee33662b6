#include "writers/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error.h"
#include "testing/memory_backend.h"

namespace ostrevane {
namespace {

Value Make(ValueKind kind, double d = 0, int64_t i = 0, std::string s = {}) {
  Value v;
  v.kind = kind;
  v.d = d;
  v.i = i;
  v.s = std::move(s);
  return v;
}
Value Dbl(double d) { return Make(ValueKind::kDouble, d); }
Value Cur(int64_t i) { return Make(ValueKind::kCurrency, 0, i); }
Value Dec(std::string s) { return Make(ValueKind::kDecimal, 0, 0, std::move(s)); }

const DateTime kMoment = EncodeDateTime(2015, 10, 8, 14, 3, 5, 45);

TEST(ValueToTextTest, StandardAndNumberTexts) {
  const FormatSettings formats = DefaultFormatSettings();
  Value single;
  single.SetSingle(2);
  Value single_tenth;
  single_tenth.SetSingle(0.1f);
  struct {
    Value value;
    const char* expected;
  } cases[] = {
      {Value::Null(), ""},
      {Dbl(1234.5), "1234.50"},
      {Dbl(0.125), "0.13"},     // a half: away from zero
      {Dbl(-0.625), "-0.63"},
      {Dbl(2.5), "2.50"},
      {Dbl(2.675), "2.67"},     // stored as 2.67499999999999982236431605997495353221893310546875
      {Dbl(1.005), "1.00"},     // stored just below the half
      {Dbl(0.005), "0.01"},     // stored just above it
      {Dbl(-0.5), "-0.50"},
      {Dbl(-0.001), "-0.00"},   // below zero, rounds to zero
      {Dbl(-0.0), "0.00"},
      {Dbl(1e20), "100000000000000000000.00"},
      {Dbl(NAN), "Nan"},
      {Dbl(INFINITY), "Inf"},
      {Dbl(-INFINITY), "-Inf"},
      {single, "2.00"},
      {single_tenth, "0.10"},
      {Cur(123456), "12.35"},
      {Cur(10000), "1.00"},
      {Cur(12345), "1.23"},
      {Cur(10050), "1.01"},     // an exact half of the amount
      {Cur(-10050), "-1.01"},
      {Cur(std::numeric_limits<int64_t>::min()), "-922337203685477.58"},
      {Value::Integer(-42), "-42"},
      {Value::Integer(std::numeric_limits<int64_t>::max()), "9223372036854775807"},
      {Make(ValueKind::kInt16, 0, 7), "7"},
      {Value::Text("a;b \"c\"\r\n"), "a;b \"c\"\r\n"},
      {Make(ValueKind::kBoolean, 0, 1), "True"},
      {Make(ValueKind::kBoolean, 0, 0), "False"},
      {Dec("-12.3400"), "-12.34"},
      {Dec("5.000"), "5"},
      {Dec("007.50"), "7.5"},
      {Dec(".5"), "0.5"},
      {Dec("-0.000"), "0"},
      {Dec("123456789012345678901234567890.123456789"), "123456789012345678901234567890.123456789"},
      {Make(ValueKind::kGuid, 0, 0, "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"),
       "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
      {Make(ValueKind::kDateTime, kMoment), "2015-10-08 14:03:05"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatValue(c.value, "yyyy-mm-dd hh:nn:ss", formats, ";", "\"", false), c.expected)
        << c.expected;
}

TEST(ValueToTextTest, SettingsAndFormatsApply) {
  FormatSettings formats = DefaultFormatSettings();
  const Value dt = Make(ValueKind::kDateTime, kMoment);
  EXPECT_EQ(FormatValue(dt, "YYYY-MM-DD", formats, ";", "\"", false), "2015-10-08");
  EXPECT_EQ(FormatValue(dt, "", formats, ";", "\"", false), "2015-10-08 14:03:05");  // "c"
  EXPECT_EQ(FormatValue(dt, "!h!h hh", formats, ";", "\"", false), "hh 14");
  formats.decimal_separator = ',';
  EXPECT_EQ(FormatValue(Dbl(1.5), "", formats, ";", "\"", false), "1,50");
  EXPECT_EQ(FormatValue(Dec("1.50"), "", formats, ";", "\"", false), "1,5");
}

TEST(ValueToTextTest, BytesHaveNoText) {
  const FormatSettings formats = DefaultFormatSettings();
  const Value bytes = Make(ValueKind::kBytes, 0, 0, std::string("\x01\x02", 2));
  try {
    FormatValue(bytes, "", formats, ";", "\"", true);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEConvertError);
    EXPECT_EQ(e.message(), "Could not convert variant of type (Array Byte) into type (String)");
  }
}

TEST(ValueToTextTest, Quoting) {
  const FormatSettings formats = DefaultFormatSettings();
  struct {
    Value value;
    const char* separator;
    const char* quote;
    const char* expected;
  } cases[] = {
      {Value::Text("plain"), ";", "\"", "plain"},
      {Value::Text(""), ";", "\"", ""},
      {Value::Null(), ";", "\"", ""},
      {Value::Text("a;b"), ";", "\"", "\"a;b\""},
      {Value::Text("say \"hi\""), ";", "\"", "\"say \"\"hi\"\"\""},
      {Value::Text("\""), ";", "\"", "\"\"\"\""},
      {Value::Text("a;\"b"), ";", "\"", "\"a;\"\"b\""},
      {Value::Text("x\r\ny"), ";", "\"", "\"x\r\ny\""},
      {Value::Text("x\ny"), ",", "'", "'x\ny'"},
      {Value::Text("it's"), ",", "'", "'it''s'"},
      {Value::Text("a;b"), ";", "", "a;b"},  // no quote: nothing changes
      {Value::Text("a\"b\nc"), ";", "", "a\"b\nc"},
      {Value::Text("a,b"), ";", "\"", "a,b"},
      {Dbl(1.5), ".", "\"", "\"1.50\""},                          // the number holds the separator
      {Dbl(-1.5), ";", "-", "---1.50-"},                          // ... or the quote
      {Value::Integer(-12), ";", "-", "---12-"},
      {Value::Integer(1012), "0", "\"", "\"1012\""},
      {Cur(15000), "5", "'", "'1.50'"},
      {Dbl(NAN), "a", "\"", "\"Nan\""},
      {Dbl(1.5), ";", "\"", "1.50"},
      {Value::Text("a\u00A7b"), "\u00A7", "\"", "\"a\u00A7b\""},  // a whole character
      {Value::Text("a\u00A9b"), "\u00A7", "\"", "a\u00A9b"},      // not its lead byte alone
      {Value::Text("a*b;c"), ";", "**", "**a*b;c**"},             // a quote of two characters
      {Value::Text("a**b"), ";", "**", "**a****b**"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatValue(c.value, "", formats, c.separator, c.quote, true), c.expected)
        << c.expected;
}

// A query on the memory backend, on its first record.
struct ExpandFixture : ::testing::Test {
  std::shared_ptr<testing::MemoryDatabase> db = std::make_shared<testing::MemoryDatabase>();
  Connection conn{testing::MemoryFactory(db)};
  std::unique_ptr<Query> query;
  FormatSettings formats = DefaultFormatSettings();
  Guid guid{0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};

  void Open(std::vector<FieldDef> fields, std::vector<Value> row) {
    db->results.push_back({std::move(fields), {std::move(row)}});
    conn.Open();
    query = std::make_unique<Query>(conn);
    query->SetSql("select");
    query->Open();
  }
  std::string Expand(std::string_view tmpl, bool with_dataset = true) {
    return ExpandNameTemplate(guid, tmpl, with_dataset ? query.get() : nullptr, kMoment, formats,
                              "YYYYMMDD", "HHNNSSZZZ", " ");
  }
};

TEST_F(ExpandFixture, Macros) {
  Value when;
  when.SetDateTime(kMoment);
  Open({{"ID", FieldType::kInteger, 0},
        {"IDX", FieldType::kString, 10},
        {"REF", FieldType::kString, 10},
        {"LATER", FieldType::kString, 10},
        {"PATH", FieldType::kString, 10},
        {"AT", FieldType::kDateTime, 0},
        {"PRICE", FieldType::kFloat, 0}},
       {Value::Integer(7), Value::Text("x"), Value::Text("see :later"), Value::Text("L"),
        Value::Text("a\\b"), when, Dbl(2.5)});
  struct {
    const char* tmpl;
    const char* expected;
  } cases[] = {
      {"out/report.csv", "out/report.csv"},
      {"?GUID-?guid", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
      {"?DATE_?Time", "20151008_140305045"},
      {":IDX", "7X"},               // ID comes first and is found inside :IDX
      {":ref", "see L"},            // a value with a later field's macro is expanded by it
      {"out\\:PATH.csv", "out\\a\\b.csv"},
      {":AT", "2015-10-08 14:03:05"},
      {":PRICE", "2.50"},
      {":nofield ?XYZ : ?", ":nofield ?XYZ : ?"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.tmpl), c.expected) << c.tmpl;
  EXPECT_EQ(Expand(":ID ?DATE", false), ":ID 20151008");
}

TEST_F(ExpandFixture, MacroPatternsHaveNoEscape) {
  Open({{"ID", FieldType::kInteger, 0}}, {Value::Integer(1)});
  EXPECT_EQ(ExpandNameTemplate(guid, "?DATE", nullptr, kMoment, formats, "YYYY!MM", "", " "),
            "2015!10");
}

TEST_F(ExpandFixture, BinaryFieldFailsOnlyWhenItsMacroIsUsed) {
  Open({{"ID", FieldType::kInteger, 0}, {"DATA", FieldType::kVarBytes, 4}},
       {Value::Integer(1), Make(ValueKind::kBytes, 0, 0, "\x01")});
  EXPECT_EQ(Expand("f:ID.xml"), "f1.xml");
  EXPECT_THROW(Expand("f:DATA.xml"), Error);
}

}  // namespace
}  // namespace ostrevane
