// The SQLite backend through the data-access interface, on real database
// files and in-memory databases.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "common/datetime.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/dataset.h"
#include "testing/failure.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;

std::string Cs(const std::string& file) { return "Provider=SQLite;Data Source=" + file; }

// Runs a statement without a result.
void Exec(Connection& conn, std::string_view sql) {
  Query q(conn);
  q.SetSql(sql);
  q.Execute();
}

// The first value of a one-row statement.
Value One(Connection& conn, std::string_view sql) {
  Query q(conn);
  q.SetSql(sql);
  q.Open();
  EXPECT_FALSE(q.Eof()) << sql;
  return q.FieldAt(0).value();
}

struct SqliteFile : ::testing::Test {
  TempDir dir;
  std::string file = dir / "jobs.db";
  Connection conn;
  void SetUp() override {
    testing::WriteFile(file, "");  // an empty file is an empty database
    conn.set_connection_string(Cs(file));
    conn.Open();
    Exec(conn, "CREATE TABLE t (id INTEGER, name VARCHAR(20))");
  }
  // What another connection sees in the file.
  int64_t CountFromOutside() {
    Connection other;
    other.set_connection_string(Cs(file));
    other.Open();
    return One(other, "SELECT count(*) FROM t").i;
  }
};

TEST(SqliteOpen, RefusesWhatIsNoUsableDatabase) {
  TempDir dir;
  testing::WriteFile(dir / "junk.db", std::string(4096, 'x'));
  struct {
    std::string cs;
    std::string message_part;
  } cases[] = {
      {"Data Source=" + (dir / "a.db"), "names no Provider"},
      {"Provider=Oracle;Password=secret;Data Source=x", "Provider \"Oracle\" is not known"},
      {"Provider=SQLite;Data Source=" + (dir / "missing.db"),
       "\"" + (dir / "missing.db") + "\" does not exist"},
      {"Provider=SQLite.1;Data Source=" + (dir / "missing.db"), "does not exist"},
      {"Provider=SQLite;Password=secret", "names no Data Source"},
      {"Provider=SQLite;Data Source=" + (dir / "junk.db"), "file is not a database"},
      {"Provider=SQLite;Data Source=" + dir.path(), "Cannot open the SQLite database"},
  };
  for (const auto& c : cases) {
    Connection conn;
    conn.set_connection_string(c.cs);
    const std::string err = testing::FailureOf([&] { conn.Open(); });
    EXPECT_NE(err.find("EDatabaseError: "), std::string::npos) << c.cs << " -> " << err;
    EXPECT_NE(err.find(c.message_part), std::string::npos) << c.cs << " -> " << err;
    EXPECT_EQ(err.find("secret"), std::string::npos) << err;
    EXPECT_FALSE(conn.connected());
  }
  EXPECT_FALSE(FileExists(dir / "missing.db"));  // never created
}

TEST(SqliteOpen, MemoryDatabaseAndBackslashPaths) {
  Connection mem;
  mem.set_connection_string("Provider=SQLite;Data Source=:memory:");
  mem.Open();
  Exec(mem, "CREATE TABLE m (x); INSERT INTO m VALUES (1), (2)");
  EXPECT_EQ(One(mem, "SELECT sum(x) FROM m").i, 3);

  TempDir dir;
  testing::WriteFile(dir / "sub/w.db", "");
  Connection win;
  win.set_connection_string("Provider=SQLite;Data Source=\"" + dir.path() + "\\sub\\w.db\"");
  EXPECT_NO_THROW(win.Open());
}

TEST_F(SqliteFile, CommitIsInTheFileAndRollbackIsNot) {
  conn.BeginTransaction();
  Exec(conn, "INSERT INTO t VALUES (1, 'a')");
  conn.Commit();
  EXPECT_EQ(CountFromOutside(), 1);

  conn.BeginTransaction();
  Exec(conn, "INSERT INTO t VALUES (2, 'b')");
  conn.Rollback();
  EXPECT_EQ(CountFromOutside(), 1);

  conn.BeginTransaction();
  Exec(conn, "INSERT INTO t VALUES (3, 'c')");
  conn.Close();  // closing an open transaction rolls it back
  EXPECT_EQ(CountFromOutside(), 1);
}

TEST_F(SqliteFile, TransactionEndedByTheSqlItselfCommitsAndRollsBackQuietly) {
  conn.BeginTransaction();
  Exec(conn, "INSERT INTO t VALUES (1, 'a'); COMMIT");
  EXPECT_NO_THROW(conn.Commit());
  conn.BeginTransaction();
  Exec(conn, "ROLLBACK");
  EXPECT_NO_THROW(conn.Rollback());
  EXPECT_EQ(CountFromOutside(), 1);
}

TEST_F(SqliteFile, PlaceholdersBindByPositionAcrossStatements) {
  Query q(conn);
  q.SetSql(
      "INSERT INTO t VALUES (:id, ':id is text');  -- a comment with :id\n"
      "INSERT INTO t VALUES (:ID + 1, :name);\n"
      "INSERT INTO t VALUES (:none, 'no value');\n"
      "SELECT id, name, :name AS again FROM t ORDER BY id");
  ASSERT_EQ(q.params().size(), 3u);  // one per name; the comment's :id is none
  for (Param& p : q.params().items()) {
    if (p.name == "id") p.value = Value::Integer(10);
    if (p.name == "name") p.value = Value::Text("o'k");
  }
  q.Open();
  struct Row {
    bool id_null;
    int64_t id;
    std::string name;
  } expected[] = {{true, 0, "no value"}, {false, 10, ":id is text"}, {false, 11, "o'k"}};
  size_t n = 0;
  for (; !q.Eof(); q.Next(), ++n) {
    ASSERT_LT(n, std::size(expected));
    EXPECT_EQ(q.FieldAt(0).IsNull(), expected[n].id_null) << n;
    if (!expected[n].id_null) {
      EXPECT_EQ(q.FieldAt(0).value().i, expected[n].id) << n;
    }
    EXPECT_EQ(q.FieldAt(1).value().s, expected[n].name) << n;
    EXPECT_EQ(q.FieldAt(2).value().s, "o'k");
  }
  EXPECT_EQ(n, 3u);  // the parameter without a value was bound as NULL
}

// A placeholder's name ends where the name ends, whatever follows it: an
// operator, a tab, a bracket or a cast.
TEST_F(SqliteFile, PlaceholdersNextToOperatorsAreBound) {
  struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT :x+1", "3"},        {"SELECT :x||:y", "2b"},
      {"SELECT :x\t|| 'a'", "2a"}, {"SELECT CASE WHEN :x<>:y THEN 'ne' END", "ne"},
      {"SELECT (:X*:x)", "4"},
  };
  for (const auto& c : cases) {
    Query q(conn);
    q.SetSql(c.sql);
    for (Param& p : q.params().items()) {
      ASSERT_TRUE(IEquals(p.name, "x") || p.name == "y") << c.sql << ": " << p.name;
      p.value = IEquals(p.name, "x") ? Value::Integer(2) : Value::Text("b");
    }
    q.Open();
    ASSERT_FALSE(q.Eof()) << c.sql;
    const Value& v = q.FieldAt(0).value();
    EXPECT_EQ(v.s.empty() ? std::to_string(v.i) : v.s, c.expected) << c.sql;
  }
}

TEST_F(SqliteFile, MarkersThatAreNoPlaceholdersAreRefused) {
  struct {
    std::string sql;
    const char* message_part;
  } cases[] = {
      // A name after the colon begins with a letter or "_", so :1 reaches
      // the database as its own marker.
      {"/* don't */ SELECT * FROM t WHERE id = :1", "parameter marker \":1\""},
      {"SELECT * FROM t WHERE id = @id", "parameter marker \"@id\""},
      {"SELECT 'unbalanced FROM t", "unrecognized token"},
      {"SELECT 1::int", "unrecognized token: \":\""},
      {"SELECT * FROM nowhere", "no such table: nowhere"},
      {std::string("SELECT 1;\0 DELETE FROM t", 24), "NUL character at byte 9"},
  };
  for (const auto& c : cases) {
    Query q(conn);
    q.SetSql(c.sql);
    const std::string err = testing::FailureOf([&] { q.Open(); });
    EXPECT_NE(err.find(c.message_part), std::string::npos) << c.sql << " -> " << err;
  }
  EXPECT_EQ(One(conn, "SELECT 'a::b'").s, "a::b");  // the connection still works
}

TEST_F(SqliteFile, StreamingStepsWhileReadingAndRewindableKeepsRows) {
  Exec(conn,
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 5) "
       "INSERT INTO t SELECT x, 'n' || x FROM c");
  {
    // A result without end can only be opened when it is streamed.
    Query endless(conn);
    endless.set_command_timeout(2);
    endless.SetSql(
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c");
    endless.Open();
    for (int i = 0; i < 1000; ++i) endless.Next();
    EXPECT_EQ(endless.FieldAt(0).value().i, 1001);
    // An error in a later row arrives when that row is read.
    Query late(conn);
    late.SetSql("SELECT id, json(CASE WHEN id = 3 THEN '{' ELSE '1' END) FROM t ORDER BY rowid");
    late.Open();
    late.Next();
    EXPECT_NE(testing::FailureOf([&] { late.Next(); }).find("malformed JSON"), std::string::npos);
  }
  Query q(conn);
  q.SetSql("SELECT id FROM t ORDER BY id");
  q.Open();
  EXPECT_EQ(q.RecordCount(), -1);
  int64_t sum = 0;
  for (; !q.Eof(); q.Next()) sum += q.FieldAt(0).value().i;
  EXPECT_EQ(sum, 15);
  EXPECT_THROW(q.First(), Error);

  q.set_rewindable(true);
  q.Open();
  for (; !q.Eof(); q.Next()) {
  }
  EXPECT_EQ(q.RecordCount(), 5);
  q.First();
  sum = 0;
  for (; !q.Eof(); q.Next()) sum += q.FieldAt(0).value().i;
  EXPECT_EQ(sum, 15);

  q.SetSql("SELECT id FROM t WHERE id > 99");
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_EQ(q.FieldCount(), 1u);
}

TEST_F(SqliteFile, BatchReturnsTheRowsOfItsLastResultStatement) {
  struct {
    const char* sql;
    std::vector<int64_t> ids;
    int64_t rows_after;
  } cases[] = {
      {"INSERT INTO t VALUES (1, 'a'); SELECT id FROM t; -- trailing comment\n;", {1}, 1},
      {"SELECT 7; INSERT INTO t VALUES (2, 'b'); SELECT id FROM t ORDER BY id; DELETE FROM t WHERE "
       "id = 1",
       {1, 2},
       1},
      {"UPDATE t SET id = 5", {}, 1},
  };
  for (const auto& c : cases) {
    Query q(conn);
    q.SetSql(c.sql);
    q.Open();
    std::vector<int64_t> ids;
    for (; !q.Eof(); q.Next()) ids.push_back(q.FieldAt(0).value().i);
    EXPECT_EQ(ids, c.ids) << c.sql;
    q.Close();
    EXPECT_EQ(One(conn, "SELECT count(*) FROM t").i, c.rows_after) << c.sql;
  }
}

// One declared type (or, when empty, a bare expression) with one stored
// value, and what the field and its value must be.
struct MappingCase {
  const char* declared;
  const char* literal;
  FieldType type;
  int64_t size;
  ValueKind kind;
  int64_t i;
  double d;
  std::string s;
};

TEST(SqliteTypeMapping, DeclaredTypesAndStoredValues) {
  using FT = FieldType;
  using VK = ValueKind;
  const double kDay = 1.0 / 86400;
  const MappingCase cases[] = {
      {"INTEGER", "42", FT::kInteger, 0, VK::kInt32, 42, 0, ""},
      {"int", "5000000000", FT::kInteger, 0, VK::kInt64, 5000000000, 0, ""},
      {"BIGINT", "-3", FT::kLargeint, 0, VK::kInt64, -3, 0, ""},
      {"SMALLINT", "7", FT::kSmallint, 0, VK::kInt16, 7, 0, ""},
      {"TINYINT", "7", FT::kSmallint, 0, VK::kInt16, 7, 0, ""},
      {"INTEGER", "'abc'", FT::kInteger, 0, VK::kText, 0, 0, "abc"},
      {"INTEGER", "1.5", FT::kInteger, 0, VK::kDouble, 0, 1.5, ""},
      {"INTEGER", "x'01'", FT::kInteger, 0, VK::kBytes, 0, 0, "\x01"},
      {"REAL", "1.25", FT::kFloat, 0, VK::kDouble, 0, 1.25, ""},
      {"DOUBLE PRECISION", "3", FT::kFloat, 0, VK::kDouble, 0, 3, ""},
      {"FLOAT", "'x'", FT::kFloat, 0, VK::kText, 0, 0, "x"},
      {"NUMERIC(9)", "1.6", FT::kInteger, 0, VK::kInt32, 2, 0, ""},
      {"DECIMAL(5, 0)", "-12", FT::kInteger, 0, VK::kInt32, -12, 0, ""},
      {"DECIMAL(10,2)", "12.345", FT::kBCD, 2, VK::kCurrency, 123500, 0, ""},
      {"DECIMAL(19,4)", "0.1", FT::kBCD, 4, VK::kCurrency, 1000, 0, ""},
      {"NUMERIC(10)", "1234567890", FT::kBCD, 0, VK::kCurrency, 12345678900000, 0, ""},
      {"DECIMAL(19,2)", "100000000000000000", FT::kBCD, 2, VK::kDecimal, 0, 0,
       "100000000000000000.00"},
      {"DECIMAL(20,2)", "12.5", FT::kFMTBcd, 2, VK::kDecimal, 0, 0, "12.50"},
      {"DECIMAL(10,6)", "-0.1", FT::kFMTBcd, 6, VK::kDecimal, 0, 0, "-0.100000"},
      {"DECIMAL(12,5)", "-0.000001", FT::kFMTBcd, 5, VK::kDecimal, 0, 0, "0.00000"},
      {"NUMERIC", "1.5", FT::kFMTBcd, 0, VK::kDecimal, 0, 0, "1.5"},
      {"DECIMAL(20,2)", "'n/a'", FT::kFMTBcd, 2, VK::kText, 0, 0, "n/a"},
      {"MONEY", "3.5", FT::kBCD, 0, VK::kCurrency, 35000, 0, ""},
      {"BOOLEAN", "1", FT::kBoolean, 0, VK::kBoolean, 1, 0, ""},
      {"BOOLEAN", "0", FT::kBoolean, 0, VK::kBoolean, 0, 0, ""},
      {"BOOLEAN", "'TRUE'", FT::kBoolean, 0, VK::kBoolean, 1, 0, ""},
      {"BOOLEAN", "'maybe'", FT::kBoolean, 0, VK::kText, 0, 0, "maybe"},
      {"DATE", "'2024-02-29'", FT::kDate, 0, VK::kDateTime, 0, EncodeDateTime(2024, 2, 29), ""},
      {"TIME", "'14:03:05'", FT::kTime, 0, VK::kDateTime, 0, (14 * 3600 + 3 * 60 + 5) * kDay, ""},
      {"DATETIME", "'2015-10-08 14:03:05.678'", FT::kDateTime, 0, VK::kDateTime, 0,
       EncodeDateTime(2015, 10, 8, 14, 3, 5, 678), ""},
      {"TIMESTAMP", "'2015-10-08T14:03'", FT::kDateTime, 0, VK::kDateTime, 0,
       EncodeDateTime(2015, 10, 8, 14, 3), ""},
      {"DATETIME", "2460311.0", FT::kDateTime, 0, VK::kDateTime, 0, EncodeDateTime(2024, 1, 1, 12),
       ""},  // a Julian day
      {"DATETIME", "2460310.75", FT::kDateTime, 0, VK::kDateTime, 0, EncodeDateTime(2024, 1, 1, 6),
       ""},
      {"DATETIME", "1700000000", FT::kDateTime, 0, VK::kDateTime, 0,
       EncodeDateTime(2023, 11, 14, 22, 13, 20), ""},  // Unix seconds
      {"DATETIME", "'1899-12-29 06:00'", FT::kDateTime, 0, VK::kDateTime, 0, -1.25, ""},
      {"DATETIME", "'2023-02-29'", FT::kDateTime, 0, VK::kText, 0, 0, "2023-02-29"},
      {"DATETIME", "'2024-01-01T10:00:00Z'", FT::kDateTime, 0, VK::kText, 0, 0,
       "2024-01-01T10:00:00Z"},
      {"DATETIME", "1e300", FT::kDateTime, 0, VK::kDouble, 0, 1e300, ""},
      {"CHAR(10)", "'ab'", FT::kFixedChar, 10, VK::kText, 0, 0, "ab"},
      {"NCHAR(3)", "'ab'", FT::kFixedWideChar, 3, VK::kText, 0, 0, "ab"},
      {"VARCHAR(20)", "'x'", FT::kString, 20, VK::kText, 0, 0, "x"},
      {"VARCHAR(20)", "NULL", FT::kString, 20, VK::kNull, 0, 0, ""},
      {"NVARCHAR(5)", "'x'", FT::kWideString, 5, VK::kText, 0, 0, "x"},
      {"TEXT", "NULL", FT::kMemo, 0, VK::kText, 0, 0, ""},
      {"TEXT", "12", FT::kMemo, 0, VK::kText, 0, 0, "12"},
      {"CLOB", "'x'", FT::kMemo, 0, VK::kText, 0, 0, "x"},
      {"NTEXT", "NULL", FT::kWideMemo, 0, VK::kText, 0, 0, ""},
      {"VARCHAR(9)", "x'C3A9'", FT::kString, 9, VK::kText, 0, 0, "\xC3\xA9"},
      {"BLOB", "x'0100ff'", FT::kBlob, 0, VK::kBytes, 0, 0, std::string("\x01\x00\xff", 3)},
      {"BLOB", "x''", FT::kBlob, 0, VK::kNull, 0, 0, ""},
      {"VARBINARY(4)", "x''", FT::kVarBytes, 4, VK::kBytes, 0, 0, ""},
      {"BINARY(2)", "x'0102'", FT::kBytes, 2, VK::kBytes, 0, 0, "\x01\x02"},
      {"GUID", "'{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}'", FT::kGuid, 38, VK::kGuid, 0, 0,
       "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"},
      {"UUID", "x'0a1b2c3d4e5f60718293a4b5c6d7e8f9'", FT::kGuid, 38, VK::kGuid, 0, 0,
       "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"},
      {"UUID", "'not a guid'", FT::kGuid, 38, VK::kText, 0, 0, "not a guid"},
      {"VARCHAR2(7)", "'x'", FT::kWideString, 7, VK::kText, 0, 0, "x"},  // by SQLite's affinity
      {"NUMBER", "7", FT::kLargeint, 0, VK::kInt64, 7, 0, ""},           // by its first value
      {"", "1 + 1", FT::kLargeint, 0, VK::kInt64, 2, 0, ""},
      {"", "1.5 * 2", FT::kFloat, 0, VK::kDouble, 0, 3, ""},
      {"", "'a' || 'b'", FT::kWideString, 0, VK::kText, 0, 0, "ab"},
      {"", "x'00'", FT::kBlob, 0, VK::kBytes, 0, 0, std::string(1, '\0')},
      {"", "NULL", FT::kWideString, 0, VK::kNull, 0, 0, ""},
  };
  Connection conn;
  conn.set_connection_string("Provider=SQLite;Data Source=:memory:");
  conn.Open();
  int n = 0;
  for (const MappingCase& c : cases) {
    const std::string row = std::string(c.declared) + " <- " + c.literal;
    Query q(conn);
    if (*c.declared) {
      const std::string table = "m" + std::to_string(n++);
      Exec(conn, "CREATE TABLE " + table + " (c " + c.declared + ")");
      Exec(conn, "INSERT INTO " + table + " VALUES (" + c.literal + ")");
      q.SetSql("SELECT c FROM " + table);
    } else {
      q.SetSql(std::string("SELECT ") + c.literal + " AS c");
    }
    q.Open();
    ASSERT_FALSE(q.Eof()) << row;
    const Field& f = q.FieldAt(0);
    EXPECT_EQ(f.name(), "c") << row;
    EXPECT_STREQ(FieldTypeName(f.type()), FieldTypeName(c.type)) << row;
    EXPECT_EQ(f.size(), c.size) << row;
    const Value& v = f.value();
    EXPECT_EQ(int(v.kind), int(c.kind)) << row;
    switch (v.kind) {
      case VK::kInt16:
      case VK::kInt32:
      case VK::kInt64:
      case VK::kCurrency:
      case VK::kBoolean:
        EXPECT_EQ(v.i, c.i) << row;
        break;
      case VK::kDouble:
      case VK::kDateTime:
        EXPECT_NEAR(v.d, c.d, 1e-9) << row;
        break;
      case VK::kText:
      case VK::kDecimal:
      case VK::kGuid:
      case VK::kBytes:
        EXPECT_EQ(v.s, c.s) << row;
        break;
      default:
        break;
    }
  }
}

TEST(SqliteTypeMapping, UntypedColumnTakesItsTypeFromTheFirstRowOnly) {
  Connection conn;
  conn.set_connection_string("Provider=SQLite;Data Source=:memory:");
  conn.Open();
  Query q(conn);
  q.SetSql("SELECT column1 FROM (VALUES (1), ('x'), (NULL), (2.5))");
  q.Open();
  EXPECT_EQ(q.FieldAt(0).type(), FieldType::kLargeint);
  std::vector<ValueKind> kinds;
  for (; !q.Eof(); q.Next()) kinds.push_back(q.FieldAt(0).value().kind);
  // Later values that do not fit keep their own kind.
  EXPECT_EQ(kinds, (std::vector<ValueKind>{ValueKind::kInt64, ValueKind::kText, ValueKind::kNull,
                                           ValueKind::kDouble}));
}

TEST_F(SqliteFile, AwkwardValuesSurviveTheRoundTrip) {
  Exec(conn, "CREATE TABLE b (k INTEGER, data BLOB, txt TEXT)");
  const std::string nul_text("a\0b\0", 4);
  std::string big_blob(50 << 20, '\0');
  for (size_t i = 0; i < big_blob.size(); i += 4093) big_blob[i] = char(i & 0xFF);
  {
    Query ins(conn);
    ins.SetSql("INSERT INTO b VALUES (:k, :data, :txt)");
    ins.params()[0].value = Value::Integer(1);
    ins.params()[1].value.SetText(big_blob, ValueKind::kBytes);
    ins.params()[2].value = Value::Text(nul_text);
    ins.Execute();
  }
  Exec(conn, "INSERT INTO b VALUES (2, NULL, CAST(x'61ff62c3' AS TEXT))");
  Query q(conn);
  q.SetSql("SELECT data, txt, length(data) FROM b ORDER BY k");
  q.Open();
  EXPECT_EQ(q.FieldAt(2).value().i, int64_t(big_blob.size()));
  EXPECT_TRUE(q.FieldAt(0).value().s == big_blob);
  EXPECT_EQ(q.FieldAt(1).value().s, nul_text);  // NUL bytes kept, nothing cut
  q.Next();
  // Invalid UTF-8 arrives with U+FFFD in place of each bad sequence.
  EXPECT_EQ(q.FieldAt(1).value().s,
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST_F(SqliteFile, MegabyteStatementWithPlaceholdersAfterItsLiteral) {
  std::string literal(1 << 20, 'x');
  for (size_t i = 0; i < literal.size(); i += 1000) literal[i] = ':';
  int64_t doubled = 0;  // each '' stands for one quote
  for (size_t i = 500; i < literal.size(); i += 1000, ++doubled) literal.replace(i, 2, "''");
  Query q(conn);
  q.SetSql("SELECT length('" + literal + "'), :p");
  ASSERT_EQ(q.params().size(), 1u);
  q.params()[0].value = Value::Integer(9);
  q.Open();
  EXPECT_EQ(q.FieldAt(0).value().i, int64_t(literal.size()) - doubled);
  EXPECT_EQ(q.FieldAt(1).value().i, 9);
}

TEST_F(SqliteFile, OnlyReadsWhenEveryStatementOfTheTextReads) {
  struct {
    const char* sql;
    bool only_reads;
  } cases[] = {
      {"SELECT id, name FROM t WHERE id = :id", true},
      {"--param id;integer;1\nSELECT name FROM t; SELECT count(*) FROM t;", true},
      {"INSERT INTO t VALUES (1, 'x'); SELECT * FROM t", false},
      {"SELECT * FROM t; DELETE FROM t", false},
      {"DELETE FROM t RETURNING id", false},
      {"CREATE TABLE u (a INTEGER); SELECT * FROM u", false},  // does not prepare as it stands
      {"SELECT * FROM missing", false},
      {"selct 1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(conn.OnlyReads(c.sql), c.only_reads) << c.sql;
}

TEST_F(SqliteFile, EveryPathToTheFileGivesOneFileKey) {
  const auto read = TransactionAccess::kRead;
  const auto write = TransactionAccess::kWrite;
  const std::string key = conn.backend().FileKey(write);
  EXPECT_FALSE(key.empty());
  // In the default journal mode readers hold up writers: they take turns.
  EXPECT_EQ(conn.backend().FileKey(read), key);
  std::filesystem::create_symlink(file, dir / "link.db");
  for (const std::string& other : {dir / "./jobs.db", dir / "link.db"}) {
    Connection c;
    c.set_connection_string(Cs(other));
    c.Open();
    EXPECT_EQ(c.backend().FileKey(write), key) << other;
  }
  Connection memory;
  memory.set_connection_string(Cs(":memory:"));
  memory.Open();
  EXPECT_EQ(memory.backend().FileKey(write), "");

  // With a write-ahead log only writers take turns.
  Exec(conn, "PRAGMA journal_mode = WAL");
  Connection wal;
  wal.set_connection_string(Cs(file));
  wal.Open();
  EXPECT_EQ(wal.backend().FileKey(write), key);
  EXPECT_EQ(wal.backend().FileKey(read), "");
}

// Another program's lock is waited for as long as a statement may run
// (the command time-out, not the connection time-out), and a cancel ends
// the wait at once.
TEST_F(SqliteFile, LockedDatabaseFailsAfterTheCommandTimeoutOrOnCancel) {
  Connection holder;
  holder.set_connection_string(Cs(file));
  holder.Open();
  holder.BeginTransaction();
  Exec(holder, "INSERT INTO t VALUES (1, 'held')");  // holds the write lock

  // The holder stands for another program: it takes no turns, so the
  // waiter's turn on the file does not help it.
  FileTurns turns;
  Connection waiter;
  waiter.set_file_turns(&turns);
  waiter.set_connection_timeout(30);
  waiter.set_command_timeout(1);
  waiter.set_connection_string(Cs(file));
  waiter.Open();
  // A job's transaction asks for the write lock when it begins.
  const auto start = std::chrono::steady_clock::now();
  const std::string err = testing::FailureOf([&] { waiter.BeginTransaction(); });
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NE(err.find("database is locked"), std::string::npos) << err;
  EXPECT_NE(err.find("waiting 1 s"), std::string::npos) << err;
  EXPECT_GE(waited, 0.9);
  EXPECT_NO_THROW(waiter.Rollback());

  // Without a limit the wait lasts until the job is stopped.
  StopFlag stop;
  Connection stopped;
  stopped.set_command_timeout(0);
  stopped.set_stop_flag(&stop);
  stopped.set_connection_string(Cs(file));
  stopped.Open();
  std::thread watch([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.Raise(StopReason::kTimeLimit);
    stopped.Cancel();
  });
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_NE(testing::FailureOf([&] { stopped.BeginTransaction(); }), "");
  watch.join();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
  stopped.Close();

  holder.Commit();
  EXPECT_EQ(CountFromOutside(), 1);
  // The failed begin gave its turn back: the next one gets it at once.
  waiter.BeginTransaction();
  waiter.Commit();
}

TEST_F(SqliteFile, StatementsAreInterruptedAfterTheCommandTimeout) {
  conn.BeginTransaction();
  Exec(conn, "INSERT INTO t VALUES (1, 'kept until rollback')");
  const char* endless[] = {
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c",
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
      "INSERT INTO t SELECT x, 'x' FROM c",
  };
  for (const char* sql : endless) {
    Query q(conn);
    q.set_command_timeout(1);
    q.SetSql(sql);
    const std::string err = testing::FailureOf([&] { q.Open(); });
    EXPECT_EQ(err, "EDatabaseError: The SQL statement timed out after 1 s") << sql;
  }
  // The interrupted write took the transaction with it; rolling back is
  // still clean and the connection goes on working.
  EXPECT_NO_THROW(conn.Rollback());
  EXPECT_EQ(One(conn, "SELECT count(*) FROM t").i, 0);
}

}  // namespace
}  // namespace ostrevane
