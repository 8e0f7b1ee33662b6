#include "data/dataset.h"

#include <gtest/gtest.h>

#include "testing/memory_backend.h"

namespace ostrevane {
namespace {

using testing::MemoryDatabase;
using testing::MemoryFactory;

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

// One parameter per name, its value at every place; the backend receives
// one positional parameter per place. A text without placeholders reaches
// it unchanged, line breaks as LF and without a last one.
TEST_F(QueryFixture, ParametersByNameBindEveryPlace) {
  Query q(conn);
  q.SetSql("select * from t\r\nwhere a = :A and b = :b and c = :a -- :c\r\n");
  ASSERT_EQ(q.params().size(), 2u);
  EXPECT_EQ(q.params()[0].name, "A");  // the first spelling
  q.params().Find("a")->value = Value::Integer(7);
  q.Open();
  ASSERT_EQ(db->calls.size(), 1u);
  EXPECT_EQ(db->calls[0].sql, "select * from t\nwhere a = ?1 and b = ?2 and c = ?3 -- :c");
  ASSERT_EQ(db->calls[0].params.size(), 3u);
  EXPECT_EQ(db->calls[0].params[0].i, 7);
  EXPECT_TRUE(db->calls[0].params[1].IsNull());
  EXPECT_EQ(db->calls[0].params[2].i, 7);

  q.SetSql("select 1\rfrom t\n\n");
  EXPECT_EQ(q.params().size(), 0u);
  q.Open();
  EXPECT_EQ(db->calls[1].sql, "select 1\nfrom t\n");
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
