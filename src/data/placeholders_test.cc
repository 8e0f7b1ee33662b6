#include "data/placeholders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrevane {
namespace {

// Each row holds for the dialects it names: G generic, S SQLite,
// P PostgreSQL, M MySQL.
TEST(PlaceholderTest, OnlyCodeHoldsPlaceholders) {
  struct {
    const char* dialects;
    std::string sql;
    std::vector<std::string> names;
  } cases[] = {
      // Names: letters, digits and "_" after a letter or "_".
      {"GSPM", "select :a, :b)", {"a", "b"}},
      {"GSPM", "select :x+1, :x-:y, :x||:y, :x<>:y, :x*2", {"x", "x", "y", "x", "y", "x", "y", "x"}},
      {"GSPM", "where a = :x\tand b = :y]", {"x", "y"}},
      {"GSPM", "select :a_1b2, :_z, :9, arr[1:2]", {"a_1b2", "_z"}},
      {"GSPM", "select :Größe.", {"Größe"}},
      {"GSPM", "select : x, :'q', :=, ends with :", {}},
      {"GSPM", "select x::int, :p::text, :::q", {"p", "q"}},
      {"GSPM", "a = :x;b=:y\r\n:z", {"x", "y", "z"}},
      // Quotes; a doubled quote stays inside.
      {"GSPM", "where x = ':no' and y = \":no\" and z = `:no` and w = :yes", {"yes"}},
      {"GSPM", "select 'it''s :no', \"a\"\":no\", `b``:no`, :yes", {"yes"}},
      {"GSPM", "select ':unclosed, :x", {}},
      // Backslash escapes: MySQL's strings, PostgreSQL's E'..' only.
      {"GSP", "select 'it\\'s :no', :yes", {"no"}},
      {"M", "select 'it\\'s :no', :yes", {"yes"}},
      {"M", "select \"a\\\":no\", `c\\`, :yes", {"yes"}},
      {"P", "select E'\\':no', e'\\\\', :yes", {"yes"}},
      {"P", "select xe'\\':no', :yes", {"no"}},  // E only as a word of its own
      // Comments.
      {"GSPM", "--fields t=HH:NN\nselect :a -- :no\n, :b", {"a", "b"}},
      {"GSPM", "select :a /* :no\n:no */ , :b /* :no", {"a", "b"}},
      {"GSPM", "select :a -- :no", {"a"}},
      {"GSP", "select 5--:x\n, :y", {"y"}},
      {"M", "select 5--:x\n, :y --\t:no\n, :z --", {"x", "y", "z"}},
      {"M", "select :a # :no\n, :b", {"a", "b"}},
      {"GSP", "select :a # :b", {"a", "b"}},
      {"P", "select /* /* :no */ :no */ :a", {"a"}},  // nested
      {"GSM", "select /* /* :no */ :b */ :a", {"b", "a"}},
      {"M", "select /*! :no */ :a", {"a"}},
      {"GSPM", "select :a --\r:b -- :no\r\n, :c", {"a", "b", "c"}},
      // The program's macro lines are comments in every dialect.
      {"GSPM", "--param a;x;1:no\r\n--fields t=HH:NN\nselect :a", {"a"}},
      {"GSP", "select :a\n--paramx :b\n --param :c", {"a"}},
      {"M", "select :a\n--paramx :b\n --param :c", {"a", "b", "c"}},
      // Dollar quotes.
      {"P", "select $$ :no $$, $tag$ :no $ $x$ :no $tag$, :yes", {"yes"}},
      {"P", "select $1, a$b$ :x, :y", {"x", "y"}},  // a$b$ is a name
      {"P", "select $q$ :no", {}},
      {"GSM", "select $$ :a $$", {"a"}},
      // Square brackets name in SQLite.
      {"S", "select [a:b], [c'd], :e", {"e"}},
      {"GPM", "select arr[a:b], :e", {"b", "e"}},
  };
  const std::pair<char, SqlDialect> dialects[] = {{'G', SqlDialect::kGeneric},
                                                  {'S', SqlDialect::kSqlite},
                                                  {'P', SqlDialect::kPostgres},
                                                  {'M', SqlDialect::kMysql}};
  for (const auto& c : cases) {
    for (const auto& [letter, dialect] : dialects) {
      if (std::string_view(c.dialects).find(letter) == std::string_view::npos) continue;
      std::vector<std::string> got;
      for (const Placeholder& p : FindPlaceholders(c.sql, dialect)) {
        EXPECT_EQ(c.sql.substr(p.pos, p.length()), ":" + std::string(p.name)) << c.sql;
        got.emplace_back(p.name);
      }
      EXPECT_EQ(got, c.names) << letter << ": " << c.sql;
    }
  }
}

// MySQL reads "--param" as code; the scan says where such lines begin so
// that they can be sent as comments. Lines inside quotes are not macro lines.
TEST(PlaceholderTest, MacroLinesThatMysqlWouldRead) {
  const std::string sql = "--param a;x;1\nselect '\n--param no', :a\n--fields t=HH\n";
  EXPECT_EQ(ScanSql(sql, SqlDialect::kMysql).macro_lines, (std::vector<size_t>{0, 39}));
  EXPECT_TRUE(ScanSql(sql, SqlDialect::kPostgres).macro_lines.empty());
}

}  // namespace
}  // namespace ostrevane
