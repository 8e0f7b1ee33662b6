// The SQL scanners: ":name" placeholders of the data-access interface and
// the PostgreSQL and MySQL statement splitters. Every position they report lies in
// the text, in order, without overlap, and names what is written there;
// a query built on the text binds one value per placeholder.
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

void CheckPlaceholders(std::string_view sql) {
  size_t next_free = 0;
  for (const Placeholder& p : FindPlaceholders(sql)) {
    FUZZ_CHECK(p.pos >= next_free && p.length >= 2 && p.pos + p.length <= sql.size());
    FUZZ_CHECK(sql[p.pos] == ':');
    FUZZ_CHECK(p.name == sql.substr(p.pos + 1, p.length - 1));
    next_free = p.pos + p.length;
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
  const std::string sql = input.ConsumeRemainingBytesAsString();

  CheckPlaceholders(sql);
  CheckPgStatements(sql, param_count);
  CheckMysqlStatements(sql);

  auto db = std::make_shared<testing::MemoryDatabase>();
  Connection connection(testing::MemoryFactory(db));
  connection.Open();
  Query query(connection);
  query.SetSql(sql);
  try {
    const size_t count = query.params().size();
    for (size_t i = 0; i < count; ++i) query.params()[i].value = Value::Integer(int64_t(i));
    query.Execute();
    FUZZ_CHECK(db->calls.size() == 1 && db->calls[0].params.size() == count);
  } catch (const Error&) {
  }
  return 0;
}
