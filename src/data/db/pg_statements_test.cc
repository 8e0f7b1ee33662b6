#include "data/db/pg_statements.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

std::vector<std::string> Texts(std::string_view sql) {
  std::vector<std::string> out;
  for (const PgStatement& st : SplitPgStatements(sql))
    out.emplace_back(sql.substr(st.begin, st.end - st.begin));
  return out;
}

TEST(PgStatementsTest, SplitsOnlyAtTopLevelSemicolons) {
  using V = std::vector<std::string>;
  struct {
    std::string sql;
    V expected;
  } cases[] = {
      {"SELECT 1", {"SELECT 1"}},
      {"SELECT 1;", {"SELECT 1"}},
      {"SET a=1; SELECT 2 ;\n-- done;\n", {"SET a=1", " SELECT 2 "}},
      {"SELECT 'a;b'''; SELECT \"x;\"\"y\"", {"SELECT 'a;b'''", " SELECT \"x;\"\"y\""}},
      {"SELECT E'\\';'; SELECT 2", {"SELECT E'\\';'", " SELECT 2"}},
      {"DO $$BEGIN PERFORM 1; END$$; SELECT 3", {"DO $$BEGIN PERFORM 1; END$$", " SELECT 3"}},
      {"SELECT $f$ ; $$ ; $f$; SELECT 4", {"SELECT $f$ ; $$ ; $f$", " SELECT 4"}},
      {"/* a; /* b; */ c; */ SELECT 5; -- x;\n SELECT 6",
       {"/* a; /* b; */ c; */ SELECT 5", " -- x;\n SELECT 6"}},
      {"CREATE FUNCTION f() RETURNS int LANGUAGE sql BEGIN ATOMIC SELECT CASE WHEN true THEN 1 "
       "END; "
       "SELECT 2; END; SELECT f()",
       {"CREATE FUNCTION f() RETURNS int LANGUAGE sql BEGIN ATOMIC SELECT CASE WHEN true THEN 1 "
        "END; "
        "SELECT 2; END",
        " SELECT f()"}},
      {" ; -- only a comment\n ;", {}},
  };
  for (const auto& row : cases) EXPECT_EQ(Texts(row.sql), row.expected) << row.sql;
}

TEST(PgStatementsTest, PiecesRenumberTheirOwnParameters) {
  // $1 in a comment, a string and an identifier is no parameter.
  const std::string sql =
      "UPDATE t SET a=$2 WHERE b=$3 AND c=$2 -- $1\n; INSERT INTO log$1 VALUES ('$1', $1, $9)";
  auto st = SplitPgStatements(sql);
  ASSERT_EQ(st.size(), 2u);
  PgPiece a = MakePgPiece(sql, st[0], 3);
  EXPECT_EQ(a.sql, "UPDATE t SET a=$1 WHERE b=$2 AND c=$1 -- $1\n");
  EXPECT_EQ(a.value_index, (std::vector<size_t>{1, 2}));
  PgPiece b = MakePgPiece(sql, st[1], 3);
  EXPECT_EQ(b.sql, " INSERT INTO log$1 VALUES ('$1', $1, $9)");
  EXPECT_EQ(b.value_index, (std::vector<size_t>{0}));
}

TEST(PgStatementsTest, KeywordIsTheFirstWordOutsideCommentsAndParentheses) {
  struct {
    std::string sql;
    std::string keyword;
  } cases[] = {
      {"select 1", "SELECT"},
      {"-- note\n/* a /* b */ */ ((Values (1)))", "VALUES"},
      {"WITH x AS (SELECT 1) SELECT * FROM x", "WITH"},
      {"table t", "TABLE"},
      {"'text' SELECT", ""},
      {"$1", ""},
      {"SELECT 1; update t set a = 1", "SELECT"},  // first statement only
  };
  for (const auto& row : cases) {
    auto st = SplitPgStatements(row.sql);
    ASSERT_FALSE(st.empty()) << row.sql;
    EXPECT_EQ(st[0].keyword, row.keyword) << row.sql;
  }
  EXPECT_EQ(SplitPgStatements("SELECT 1; update t set a = 1")[1].keyword, "UPDATE");
}

}  // namespace
}  // namespace ostrevane
