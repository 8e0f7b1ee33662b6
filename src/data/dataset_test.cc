#include "data/dataset.h"

#include <gtest/gtest.h>

#include "testing/memory_backend.h"

namespace ostrevane {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;

TEST(PlaceholderTest, NamesQuotesAndColons) {
  struct {
    const char* sql;
    std::vector<std::string> names;
  } cases[] = {
      {"select :a, :b)", {"a", "b"}},
      {"where x = ':no' and y = \":no\" and z = `:no` and w = :yes", {"yes"}},
      {"select x::int, :p::text", {"p"}},
      {"select :x+1, :x-:y, :x||:y, :x<>:y, :x*2", {"x", "x", "y", "x", "y", "x", "y", "x"}},
      {"where a = :x\tand b = :y]", {"x", "y"}},
      {"select :a_1b2, :_z, :9", {"a_1b2", "_z", "9"}},
      {"select :Größe.", {"Größe"}},
      {"select : x, :'q', :\"n\"", {}},
      {"select ':unclosed, :x", {}},
      {"--fields t=HH:NN\nselect 1", {"NN"}},
      {"a = :x;b=:y\r\n:z", {"x", "y", "z"}},
      {"ends with :", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> got;
    for (const auto& p : FindPlaceholders(c.sql)) got.push_back(p.name);
    EXPECT_EQ(got, c.names) << c.sql;
  }
}

struct QueryFixture : ::testing::Test {
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  void SetUp() override {
    db->results.push_back({{{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}},
                           {{Value::Integer(1), Value::Text("a")},
                            {Value::Integer(2), Value::Text("b")},
                            {Value::Integer(3), Value::Null()}}});
    conn.Open();
  }
};

TEST_F(QueryFixture, ParametersArePositionalAndTheFirstOfANameIsFound) {
  Query q(conn);
  q.SetSql("select * from t where a = :A and b = :b and c = :a");
  ASSERT_EQ(q.params().size(), 3u);
  q.params().Find("a")->value = Value::Integer(7);
  q.Open();
  ASSERT_EQ(db->calls.size(), 1u);
  EXPECT_EQ(db->calls[0].sql, "select * from t where a = ?1 and b = ?2 and c = ?3");
  EXPECT_EQ(db->calls[0].params[0].i, 7);
  EXPECT_TRUE(db->calls[0].params[2].IsNull());
}

TEST_F(QueryFixture, StreamingReadsForwardOnly) {
  Query q(conn);
  q.SetSql("select");
  q.Open();
  EXPECT_EQ(q.RecordCount(), -1);
  std::vector<int64_t> ids;
  for (; !q.Eof(); q.Next()) ids.push_back(q.FindField("id")->value().i);
  EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_TRUE(q.FieldAt(1).IsNull());  // the last record stays current
  EXPECT_THROW(q.First(), Error);
}

TEST_F(QueryFixture, RewindableAllowsASecondPass) {
  Query q(conn);
  q.set_rewindable(true);
  q.SetSql("select");
  q.Open();
  for (; !q.Eof(); q.Next()) {
  }
  EXPECT_EQ(q.RecordCount(), 3);
  q.First();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAt(1).value().s, "a");
  q.Next();
  EXPECT_EQ(q.FieldAt(0).value().i, 2);
}

TEST_F(QueryFixture, EmptyResultHasRecordCountZero) {
  db->results[0].rows.clear();
  Query q(conn);
  q.SetSql("select");
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 0);
}

TEST_F(QueryFixture, ClosingTheConnectionRollsBackAnOpenTransaction) {
  conn.BeginTransaction();
  conn.Close();
  EXPECT_EQ(db->events, (std::vector<std::string>{"open", "begin", "rollback", "close"}));
}

}  // namespace
}  // namespace ostrevane
