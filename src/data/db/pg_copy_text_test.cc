#include "data/db/pg_copy_text.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <optional>

#include "testing/pg_server.h"

namespace ostrevane {
namespace {

using Fields = std::vector<std::optional<std::string>>;

Fields Decode(std::string_view line, size_t columns, bool* ok = nullptr) {
  PgCopyRow row;
  const bool parsed = row.Parse(line, columns);
  if (ok) *ok = parsed;
  Fields out;
  for (size_t c = 0; c < row.size(); ++c)
    out.push_back(row.IsNull(c) ? std::nullopt : std::optional<std::string>(row.Text(c)));
  return out;
}

TEST(PgCopyTextTest, SplitsAndUnescapesFields) {
  using namespace std::string_literals;
  struct {
    std::string line;
    Fields expected;
  } cases[] = {
      {"a\tb\n", {"a", "b"}},
      {"a\tb", {"a", "b"}},  // closing newline optional
      {"\\N\t\t\\N\n", {std::nullopt, "", std::nullopt}},
      {"\\\\N\tx\\N\n", {"\\N", "xN"}},  // only a bare \N is NULL
      {"tab\\there\tnew\\nline\tcr\\rlf\n", {"tab\there", "new\nline", "cr\rlf"}},
      {"\\b\\f\\v\\\\\n", {"\b\f\v\\"}},
      {"\\101\\0\\7\\1234\n", {"A\0\a"s "S4"}},  // up to three octal digits
      {"\\x41\\x4\\x4g\\xz\n", {"A\x04\x04gxz"}},  // one or two hex digits; \x alone is x
      {"\\q\\.\\'\n", {"q.'"}},                     // any other escaped character is itself
      {"h\xc3\xa9\\351\n", {"h\xc3\xa9\xe9"}},      // bytes pass through untouched
      {"\\\\x0aff\n", {"\\x0aff"}},                 // a hex bytea's text
      {"\n", {""}},
  };
  for (const auto& k : cases) {
    bool ok = false;
    EXPECT_EQ(Decode(k.line, k.expected.size(), &ok), k.expected) << k.line;
    EXPECT_TRUE(ok) << k.line;
  }
  bool ok = true;
  Decode("a\tb\n", 3, &ok);
  EXPECT_FALSE(ok);
}

TEST(PgCopyTextTest, ViewsSurviveLongRowsOfEscapes) {
  std::string line, expected;
  for (int k = 0; k < 500; ++k) {
    line += "\\t\\\\x\t";
    expected = "\t\\x";
  }
  line += "end\n";
  PgCopyRow row;
  ASSERT_TRUE(row.Parse(line, 501));
  for (size_t c = 0; c < 500; ++c) EXPECT_EQ(row.Text(c), expected) << c;
  EXPECT_EQ(row.Text(500), "end");
}

struct ConnCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};

// The server's own COPY text, decoded, must equal the text of a
// text-format result for every value: the converters then see the same
// bytes whichever way the rows were read.
TEST(PgCopyTextTest, ServerCopyTextDecodesToTheResultText) {
  if (testing::PgPort().empty()) GTEST_SKIP() << "OSTREVANE_PG_PORT is not set";
  std::unique_ptr<PGconn, ConnCloser> conn(
      PQconnectdb(("host=127.0.0.1 dbname=postgres user=postgres port=" + testing::PgPort()).c_str()));
  ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
  std::unique_ptr<PGresult, ResultClearer> set(PQexec(
      conn.get(), "SET client_encoding = 'UTF8'; SET bytea_output = 'hex'; SET DateStyle = 'ISO, MDY'"));
  const std::string query =
      "SELECT * FROM (VALUES "
      "(1, 'plain', 'a\tb', E'line1\\nline2\\r\\n', E'back\\\\slash', '', NULL::text, "
      " '\\N', E'\\\\N', E'\\x01\\x08\\x0b\\x0c\\x1f\\x7f'::text, 'h\u00e9 \u20ac \U0001F600', "
      " E'\\\\x00\\t'::bytea, '\\x'::bytea, 1.5::float8, '2024-02-29 23:59:59.999'::timestamp, "
      " ARRAY['a b', NULL, '\"q\"'], '{\"k\": \"t\\tv\"}'::json), "
      "(2, NULL, NULL, NULL, NULL, NULL, '', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      " NULL, NULL)) AS v";
  std::unique_ptr<PGresult, ResultClearer> rows(PQexec(conn.get(), query.c_str()));
  ASSERT_EQ(PQresultStatus(rows.get()), PGRES_TUPLES_OK) << PQerrorMessage(conn.get());
  const int columns = PQnfields(rows.get());

  std::unique_ptr<PGresult, ResultClearer> copy(
      PQexec(conn.get(), ("COPY (" + query + ") TO STDOUT").c_str()));
  ASSERT_EQ(PQresultStatus(copy.get()), PGRES_COPY_OUT) << PQerrorMessage(conn.get());
  int r = 0;
  PgCopyRow row;
  for (char* buf = nullptr;;) {
    const int n = PQgetCopyData(conn.get(), &buf, 0);
    if (n < 0) break;
    std::unique_ptr<char, decltype(&PQfreemem)> hold(buf, &PQfreemem);
    ASSERT_LT(r, PQntuples(rows.get()));
    ASSERT_TRUE(row.Parse(std::string_view(buf, size_t(n)), size_t(columns)));
    for (int c = 0; c < columns; ++c) {
      EXPECT_EQ(row.IsNull(size_t(c)), bool(PQgetisnull(rows.get(), r, c))) << r << "," << c;
      EXPECT_EQ(row.Text(size_t(c)),
                std::string_view(PQgetvalue(rows.get(), r, c), size_t(PQgetlength(rows.get(), r, c))))
          << r << "," << c;
    }
    ++r;
  }
  EXPECT_EQ(r, PQntuples(rows.get()));
  std::unique_ptr<PGresult, ResultClearer> end(PQgetResult(conn.get()));
  EXPECT_EQ(PQresultStatus(end.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn.get());
}

}  // namespace
}  // namespace ostrevane
