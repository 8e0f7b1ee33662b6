#include "workers/sql_macros.h"

#include <gtest/gtest.h>

#include "testing/memory_backend.h"

namespace ostrevane {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;

std::string Show(const std::vector<NameValue>& list) {
  std::string s;
  for (const NameValue& p : list) s += "[" + p.name + "=" + p.value + "]";
  return s;
}

struct SqlMacros : ::testing::Test {
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  Query query{conn};
};

TEST_F(SqlMacros, ReadsParamAndFieldsLines) {
  struct {
    const char* sql;
    const char* params;
    const char* fields;
  } cases[] = {
      {"--param id;integer;42\nselect :id", "[id=42]", ""},
      {"--param a;x;1;b;y;2", "[a=1][b=2]", ""},
      {"--param a", "[a=]", ""},
      {"--param a;x", "[a=]", ""},
      {"--param a;x;1\n--param b;y;2", "[a=1][b=2]", ""},
      {"--param a;x;1;", "[a=1]", ""},
      {"--fields d=YYYY-MM-DD;t=HH:NN", "", "[d=YYYY-MM-DD][t=HH:NN]"},
      {"--fields x", "", "[x=]"},
      {"--fields x=a=b;;y=", "", "[x=a=b][=][y=]"},
      // Exact prefixes at the very first position only.
      {"--PARAM a;x;1\n --param b;x;2\n--param\tc;x;3\n--fields\ty=z\nselect 1", "", ""},
      // A "--param " line is never read as a "--fields " line.
      {"--param --fields x=1;t;v", "[--fields x=1=v]", ""},
      {"--param a;x;1\r\n--fields f=HH\r\nselect :a", "[a=1]", "[f=HH]"},
  };
  for (const auto& c : cases) {
    Job job;
    ApplySqlMacros(c.sql, job);
    EXPECT_EQ(Show(job.sql_parameters), c.params) << c.sql;
    EXPECT_EQ(Show(job.csv_fields), c.fields) << c.sql;
  }
}

TEST_F(SqlMacros, ListsGivenByTheJobStopReading) {
  const char sql[] = "--param a;x;1\n--fields f=HH\n--param b;x;2";
  Job job;
  job.sql_parameters = {{"job", "1"}};
  ApplySqlMacros(sql, job);
  EXPECT_EQ(Show(job.sql_parameters), "[job=1]");
  EXPECT_EQ(Show(job.csv_fields), "[f=HH]");
  ApplySqlMacros(sql, job);  // both lists are filled now
  EXPECT_EQ(Show(job.csv_fields), "[f=HH]");
}

TEST(SqlMacroLines, EntriesKnowTheirLine) {
  const char sql[] = "select 1\r\n--param a;t;1;b;t;2\r--fields f=HH\n\n--param c";
  std::string got;
  for (const MacroEntry& item : ReadMacroLines(sql, MacroKind::kParam))
    got += item.entry.name + "@" + std::to_string(item.line) + " ";
  EXPECT_EQ(got, "a@2 b@2 c@5 ");
  EXPECT_EQ(ReadMacroLines(sql, MacroKind::kFields).at(0).line, 3);
}

class FixedClock : public Clock {
 public:
  DateTime Now() const override { return EncodeDateTime(2024, 5, 6, 7, 8, 9); }
};

TEST_F(SqlMacros, BindsListValuesByNameWithANewGuidEach) {
  query.SetSql("select :ID, :other, :g1, :g2, :id, :unset");
  Job job;
  job.sql_parameters = {
      {"id", "42"}, {"nowhere", "x"}, {"G1", "?guid"}, {"g2", "?GUID-?GUID"}, {"other", "o"}};
  BindJobParameters(query.params(), job, FormatSettings{}, nullptr, FixedClock());
  Params& p = query.params();
  ASSERT_EQ(p.size(), 5u);  // :ID and :id are one parameter
  EXPECT_EQ(p[0].value.s, "42");
  EXPECT_EQ(p[1].value.s, "o");
  EXPECT_TRUE(p[4].value.IsNull());
  const std::string g1 = p[2].value.s, g2 = p[3].value.s;
  ASSERT_EQ(g1.size(), 36u);
  ASSERT_EQ(g2.size(), 73u);
  EXPECT_EQ(g2.substr(0, 36), g2.substr(37));  // one GUID per entry
  EXPECT_NE(g1, g2.substr(0, 36));             // a new one for every entry
}

TEST_F(SqlMacros, FieldsOfTheDatasetBindLastWithTheirTypes) {
  db->results.push_back({{{"ID", FieldType::kInteger, 0},
                          {"Name", FieldType::kString, 10},
                          {"other", FieldType::kDateTime, 0}},
                         {{Value::Integer(7), Value::Null(), Value::Null()}}});
  conn.Open();
  Query dataset(conn);
  dataset.SetSql("select");
  dataset.Open();

  query.SetSql("update t set a = :id, b = :NAME, c = :kept where d = :id");
  Job job;
  job.sql_parameters = {{"id", "from list"}, {"name", "from list"}, {"kept", "k"}};
  query.params()[1].value = Value::Text("earlier record");
  BindJobParameters(query.params(), job, FormatSettings{}, &dataset, FixedClock());
  const Params& p = query.params();
  EXPECT_EQ(p[0].type, FieldType::kInteger);
  EXPECT_EQ(p[0].value.kind, ValueKind::kInt64);
  EXPECT_EQ(p[0].value.i, 7);
  EXPECT_EQ(p[1].type, FieldType::kString);
  EXPECT_TRUE(p[1].value.IsNull());  // null stays null
  EXPECT_EQ(p[2].value.s, "k");
}

}  // namespace
}  // namespace ostrevane
