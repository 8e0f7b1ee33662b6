// The SQL scanners: ":name" placeholders of the data-access interface (in
// every dialect) and the PostgreSQL and MySQL statement splitters. Every
// position they report lies in the text, in order, without overlap, and
// names what is written there; text added at the end changes nothing found
// before it; a query built on the text binds one value per placeholder.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "common/error.h"
#include "data/dataset.h"
#include "data/db/mysql_statements.h"
#include "data/db/pg_statements.h"
#include "fuzz_support.h"
#include "testing/memory_backend.h"

using namespace ostrevane;

namespace {

void CheckPlaceholders(std::string_view sql, SqlDialect dialect) {
  const SqlScan scan = ScanSql(sql, dialect);
  size_t next_free = 0;
  for (const Placeholder& p : scan.placeholders) {
    FUZZ_CHECK(p.pos >= next_free && p.length() >= 2 && p.pos + p.length() <= sql.size());
    FUZZ_CHECK(sql[p.pos] == ':');
    FUZZ_CHECK(p.name.data() == sql.data() + p.pos + 1);
    next_free = p.pos + p.length();
  }
  for (size_t at : scan.macro_lines) {
    FUZZ_CHECK(dialect == SqlDialect::kMysql && at < sql.size());
    FUZZ_CHECK(at == 0 || sql[at - 1] == '\n' || sql[at - 1] == '\r');
    FUZZ_CHECK(sql.substr(at, 7) == "--param" || sql.substr(at, 8) == "--fields");
  }
  // What lies before the end keeps its meaning whatever follows.
  const std::string longer = std::string(sql) + "\n' :tail";
  const std::vector<Placeholder> more = FindPlaceholders(longer, dialect);
  size_t k = 0;
  for (const Placeholder& p : scan.placeholders) {
    if (p.pos + p.length() >= sql.size()) break;  // its name may grow
    FUZZ_CHECK(k < more.size() && more[k].pos == p.pos && more[k].name == p.name);
    ++k;
  }
}

void CheckPgStatements(std::string_view sql, size_t param_count) {
  size_t next_free = 0;
  for (const PgStatement& st : SplitPgStatements(sql)) {
    FUZZ_CHECK(st.begin >= next_free && st.begin <= st.end && st.end <= sql.size());
    size_t next_param = st.begin;
    for (const PgParamRef& ref : st.params) {
      FUZZ_CHECK(ref.pos >= next_param && ref.length >= 2 && ref.pos + ref.length <= st.end);
      FUZZ_CHECK(sql[ref.pos] == '$' && ref.number >= 0);  // "$0" is refused by the server
      next_param = ref.pos + ref.length;
    }
    const PgPiece piece = MakePgPiece(sql, st, param_count);
    for (size_t index : piece.value_index) FUZZ_CHECK(index < param_count);
    next_free = st.end;
  }
}

void CheckMysqlStatements(std::string_view sql) {
  size_t next_free = 0;
  for (const MysqlStatement& st : SplitMysqlStatements(sql)) {
    FUZZ_CHECK(st.begin >= next_free && st.begin <= st.end && st.end <= sql.size());
    size_t marks = 0;  // every parameter is a "?" of its own statement
    for (size_t i = st.begin; i < st.end; ++i) marks += sql[i] == '?';
    FUZZ_CHECK(st.param_count <= marks);
    next_free = st.end;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t param_count = input.ConsumeIntegralInRange<size_t>(0, 12);
  const auto dialect = static_cast<SqlDialect>(input.ConsumeIntegralInRange<int>(0, 3));
  const std::string sql = input.ConsumeRemainingBytesAsString();

  CheckPlaceholders(sql, dialect);
  CheckPgStatements(sql, param_count);
  CheckMysqlStatements(sql);

  auto db = std::make_shared<testing::MemoryDatabase>();
  Connection connection(testing::MemoryFactory(db));
  connection.Open();
  Query query(connection);
  query.SetSql(sql);
  try {
    const size_t count = query.placeholders().size();
    for (size_t i = 0; i < query.params().size(); ++i)
      query.params()[i].value = Value::Integer(int64_t(i));
    query.Execute();
    FUZZ_CHECK(db->calls.size() == 1 && db->calls[0].params.size() == count);
  } catch (const Error&) {
  }
  return 0;
}
