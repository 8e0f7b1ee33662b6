#include "delivery/report.h"

#include <gtest/gtest.h>

#include "common/error.h"
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
  for (; !query.Eof(); query.Next()) {}  // the writers have read it to its end
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
  const std::string text = "\xEF\xBB\xBF<!DOCTYPE html>\n<HTML><body>{{#frDataSet}}{{id}} {{/frDataSet}}</body></HTML>\n";
  EXPECT_EQ(Render(text), "<!DOCTYPE html>\n<HTML><body>1 2 </body></HTML>\n");
}

TEST_F(ReportTest, AnEmptyResultAndAMissingTemplate) {
  db->results[0].rows.clear();
  query.Close();
  query.Open();
  EXPECT_EQ(Render("{{#frDataSet}}row{{/frDataSet}}{{^frDataSet}}no rows{{/frDataSet}}"),
            WrapReportBody("no rows"));
  EXPECT_EQ(RenderReport(dir / "missing.mustache", query, DefaultFormatSettings()), WrapReportBody(""));
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

}  // namespace
}  // namespace ostrevane::delivery
