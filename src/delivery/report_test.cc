#include "delivery/report.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "testing/failure.h"
#include "testing/memory_backend.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;
using testing::TempDir;
using testing::WriteFile;

struct ReportTest : ::testing::Test {
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  Query query{conn};
  TempDir dir;

  void SetUp() override {
    db->results.push_back(
        {{{"ID", FieldType::kString, 5}, {"Name", FieldType::kString, 20}},
         {{Value::Text("1"), Value::Text("Ann & <Bob>")}, {Value::Text("2"), Value::Text("Zoë")}}});
    conn.Open();
    query.set_rewindable(true);  // as the job run opens it for a report
    query.SetSql("select");
    query.Open();
  }
  std::string Render(const std::string& text) {
    WriteFile(dir / "t.mustache", text);
    return RenderReport(dir / "t.mustache", query, DefaultFormatSettings());
  }
};

TEST_F(ReportTest, IteratesEveryRecordFromTheFirstWhereverTheQueryStands) {
  for (; !query.Eof(); query.Next()) {
  }  // the writers have read it to its end
  const std::string body = Render(
      "<table><tr>{{#frFields}}<th>{{name}}</th>{{/frFields}}</tr>\n"
      "{{#frDataSet}}<tr><td>{{frRecNo}}</td><td>{{ID}}</td><td>{{Name}}</td><td>{{{name}}}</td>"
      "<td>{{#frFields}}{{value}};{{/frFields}}</td></tr>\n{{/frDataSet}}</table>\n");
  EXPECT_EQ(body, WrapReportBody(
                      "<table><tr><th>ID</th><th>Name</th></tr>\n"
                      "<tr><td>1</td><td>1</td><td>Ann &amp; &lt;Bob&gt;</td><td>Ann & <Bob></td>"
                      "<td>1;Ann &amp; &lt;Bob&gt;;</td></tr>\n"
                      "<tr><td>2</td><td>2</td><td>Zoë</td><td>Zoë</td><td>2;Zoë;</td></tr>\n"
                      "</table>\n"));
}

TEST_F(ReportTest, AWholeDocumentIsKeptAsItIs) {
  const std::string text =
      "\xEF\xBB\xBF<!DOCTYPE html>\n<HTML><body>{{#frDataSet}}{{id}} "
      "{{/frDataSet}}</body></HTML>\n";
  EXPECT_EQ(Render(text), "<!DOCTYPE html>\n<HTML><body>1 2 </body></HTML>\n");
}

TEST_F(ReportTest, AnEmptyResultAndAMissingTemplate) {
  db->results[0].rows.clear();
  query.Close();
  query.Open();
  EXPECT_EQ(Render("{{#frDataSet}}row{{/frDataSet}}{{^frDataSet}}no rows{{/frDataSet}}"),
            WrapReportBody("no rows"));
  EXPECT_EQ(RenderReport(dir / "missing.mustache", query, DefaultFormatSettings()),
            WrapReportBody(""));
  const std::string empty = WrapReportBody("");
  EXPECT_NE(empty.find("<html>"), std::string::npos);
  EXPECT_NE(empty.find("</html>"), std::string::npos);
}

TEST_F(ReportTest, ASyntaxErrorFailsWithTheEnginesMessage) {
  try {
    Render("<p>{{#frDataSet}}{{ID}}</p>");
    FAIL() << "rendered";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEReportError);
    EXPECT_NE(e.message().find("Unclosed section"), std::string::npos) << e.message();
    EXPECT_NE(e.message().find("t.mustache"), std::string::npos) << e.message();
  }
}

// The five characters HTML gives a meaning, the apostrophe as HTML 4 knows
// it (it has no "&apos;").
TEST_F(ReportTest, ValuesAreEscapedAsEveryHtmlReaderReadsThem) {
  db->results[0] = {{{"V", FieldType::kString, 20}}, {{Value::Text("it's \"a\" <b> & c")}}};
  query.Close();
  query.Open();
  EXPECT_EQ(Render("{{#frDataSet}}{{V}}|{{{V}}}|{{#frFields}}{{value}}{{/frFields}}{{/frDataSet}}"),
            WrapReportBody("it&#39;s &quot;a&quot; &lt;b&gt; &amp; c|it's \"a\" <b> & c|"
                           "it&#39;s &quot;a&quot; &lt;b&gt; &amp; c"));
}

// The records are made only when a template asks for them: sections inside
// sections still find each record's own values, and the names a template
// sees inside a record come before those around it.
TEST_F(ReportTest, NestedSectionsFindTheValuesOfTheirOwnRecord) {
  db->results[0] = {{{"ID", FieldType::kString, 5}, {"frRecNo", FieldType::kString, 5}},
                    {{Value::Text("a"), Value::Text("x")}, {Value::Text("b"), Value::Text("y")}}};
  query.Close();
  query.Open();
  struct {
    const char* text;
    const char* rendered;
  } cases[] = {
      // The field list of a record, and inside it every record again: a
      // value found in a field section is that field's record's.
      {"{{#frDataSet}}{{#frFields}}{{name}}={{value}}[{{#frDataSet}}{{ID}}{{/frDataSet}}]"
       "{{value}};{{/frFields}}{{/frDataSet}}",
       "ID=a[ab]a;frRecNo=x[ab]x;ID=b[ab]b;frRecNo=y[ab]y;"},
      // A field's name outside the records, and no value there.
      {"{{#frFields}}{{name}}:{{value}},{{/frFields}}", "ID:,frRecNo:,"},
      // frRecNo is the record's number even beside a field of that name.
      {"{{#frDataSet}}{{frRecNo}}{{#ID}}<{{.}}>{{/ID}}{{/frDataSet}}", "1<a>2<b>"},
      // An outer record's value from inside a section of another record.
      {"{{#frDataSet}}{{#frDataSet}}{{ID}}{{/frDataSet}}/{{/frDataSet}}", "ab/ab/"},
      {"{{#frDataSet}}{{#ID}}{{#frDataSet}}{{.}}{{/frDataSet}}{{/ID}}{{/frDataSet}}", ""},
  };
  for (const auto& row : cases)
    EXPECT_EQ(Render(row.text), WrapReportBody(row.rendered)) << row.text;
}

// A result read once (not kept by the query for a second pass) is kept by
// the report as it reads it; more records than the limit fail the report.
TEST_F(ReportTest, AQueryReadOnceAndTheRecordLimit) {
  Query once{conn};
  once.SetSql("select");
  once.Open();
  WriteFile(dir / "t.mustache", "{{#frDataSet}}{{frRecNo}}:{{Name}};{{/frDataSet}}");
  EXPECT_EQ(RenderReport(dir / "t.mustache", once, DefaultFormatSettings()),
            WrapReportBody("1:Ann &amp; &lt;Bob&gt;;2:Zoë;"));

  ReportLimits one_record;
  one_record.max_records = 1;
  for (Query* q : {&query, &once}) {
    q->Close();
    q->Open();
    const std::string failure = testing::FailureOf(
        [&] { RenderReport(dir / "t.mustache", *q, DefaultFormatSettings(), one_record); });
    EXPECT_EQ(failure, "EReportError: Report template \"" + dir / "t.mustache" +
                           "\": the result has more than 1 records, more than a report may "
                           "hold (ReportMaxRecords in section Mail of settings.ini)");
  }
  ReportLimits two_records;
  two_records.max_records = 2;
  query.Close();
  query.Open();
  EXPECT_EQ(RenderReport(dir / "t.mustache", query, DefaultFormatSettings(), two_records),
            WrapReportBody("1:Ann &amp; &lt;Bob&gt;;2:Zoë;"));
}

// A NULL and an empty text are false in sections; any other value, "0"
// included, is true.
TEST_F(ReportTest, NullAndEmptyValuesAreFalseInSections) {
  db->results[0] = {{{"ID", FieldType::kString, 5}, {"NOTE", FieldType::kString, 20}},
                    {{Value::Text("1"), Value::Null()},
                     {Value::Text("2"), Value::Text("")},
                     {Value::Text("3"), Value::Text("0")}}};
  query.Close();
  query.Open();
  EXPECT_EQ(Render("{{#frDataSet}}{{ID}}:{{#note}}[{{NOTE}}]{{/note}}{{^NOTE}}none{{/NOTE}};"
                   "{{/frDataSet}}"),
            WrapReportBody("1:none;2:none;3:[0];"));
}

// No template can take the process down: each limit fails the report alone.
TEST_F(ReportTest, LimitsFailTheReportNotTheProcess) {
  auto nested = [](int depth, const std::string& name, const std::string& open = "{{",
                   const std::string& close = "}}") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open + "#" + name + close;
    for (int i = 0; i < depth; ++i) text += open + "/" + name + close;
    return text;
  };
  ReportLimits small;
  small.max_output_bytes = 1000;
  small.max_section_entries = 1000;
  struct {
    const char* what;
    std::string text;
    ReportLimits limits;
    const char* error;  // nullptr: renders
  } cases[] = {
      {"20,000 nested sections", nested(20000, "frDataSet"), {}, "nested deeper than 100 levels"},
      {"after a delimiter change",
       "{{=<% %>=}}" + nested(101, "frDataSet", "<%", "%>"),
       {},
       "nested deeper than 100 levels"},
      {"100 levels are allowed", nested(100, "nothing"), {}, nullptr},
      {"output beyond its limit", "{{#frDataSet}}" + std::string(600, 'x') + "{{/frDataSet}}",
       small, "the report is larger than"},
      {"sections that visit too much, writing nothing", nested(20, "frDataSet"), small,
       "visits too many sections (over 1000)"},
  };
  for (auto& row : cases) {
    WriteFile(dir / "t.mustache", row.text);
    try {
      RenderReport(dir / "t.mustache", query, DefaultFormatSettings(), row.limits);
      EXPECT_EQ(row.error, nullptr) << row.what;
    } catch (const Error& e) {
      ASSERT_NE(row.error, nullptr) << row.what << ": " << e.message();
      EXPECT_EQ(e.class_name(), kEReportError) << row.what;
      EXPECT_NE(e.message().find(row.error), std::string::npos) << row.what << ": " << e.message();
    }
  }
}

}  // namespace
}  // namespace ostrevane::delivery
