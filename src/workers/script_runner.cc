#include "workers/script_runner.h"

#include "common/text.h"
#include "log/console.h"
#include "workers/sql_macros.h"

namespace ostrevane {

void RunSqlScript(Query& query, Job job, const FormatSettings& formats, Console* console) {
  const std::vector<std::string> lines = SplitLines(job.sql);
  query.ClearSql();
  auto execute_batch = [&] {
    ApplySqlMacros(query, job, /*skip=*/true);
    BindJobParameters(query.params(), job, formats, nullptr);
    query.Execute();
  };
  for (const std::string& line : lines) {
    if (!IEquals(line, "go")) {
      query.AddLine(line);
      continue;
    }
    execute_batch();
    query.ClearSql();
    if (console) console->Dot();
  }
  // The text after the last "go" is a batch too, bound like the others,
  // unless it holds nothing but blanks.
  if (!IsBlank(query.Sql())) execute_batch();
}

}  // namespace ostrevane
