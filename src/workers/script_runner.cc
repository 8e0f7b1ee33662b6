#include "workers/script_runner.h"

#include <algorithm>

#include "common/text.h"
#include "log/console.h"
#include "workers/sql_macros.h"

namespace ostrevane {

std::vector<ScriptBatch> ScriptBatches(std::string_view sql) {
  std::vector<ScriptBatch> batches;
  size_t batch_start = 0;
  for (size_t start = 0; start < sql.size();) {
    size_t end = sql.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = sql.size();
    size_t next = end;
    if (next < sql.size())
      next += sql[next] == '\r' && next + 1 < sql.size() && sql[next + 1] == '\n' ? 2 : 1;
    if (IEquals(sql.substr(start, end - start), "go")) {
      // The batch keeps the line break before "go"; setting it as a
      // query's text drops it.
      batches.push_back({sql.substr(batch_start, start - batch_start), true});
      batch_start = next;
    }
    start = next;
  }
  const std::string_view rest = sql.substr(std::min(batch_start, sql.size()));
  if (!IsBlank(rest)) batches.push_back({rest, false});
  return batches;
}

void RunSqlScript(Query& query, const Job& job, const FormatSettings& formats, Console* console) {
  // "--param " lines are comments in a script: only -params bind.
  for (const ScriptBatch& batch : ScriptBatches(job.sql)) {
    query.SetSql(batch.text);
    BindJobParameters(query.params(), job, formats, nullptr);
    query.Execute();
    if (batch.ended_by_go && console) console->Dot();
  }
  query.ClearSql();
}

}  // namespace ostrevane
