#pragma once

#include <string_view>
#include <vector>

#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"
#include "log/console.h"

namespace ostrevane {

// A batch of a script: its text, a view into the script.
struct ScriptBatch {
  std::string_view text;
  bool ended_by_go = false;
};

// The batches of a script: the texts between lines reading "go" (any case,
// nothing else on the line). Every "go" line ends a batch, an empty one
// too; the text after the last one is a batch unless it holds nothing but
// blanks.
std::vector<ScriptBatch> ScriptBatches(std::string_view sql);

// Runs job.sql as its batches, each executed on `query` with the job's
// params bound. Every batch ended by a "go" line prints one "." on
// `console` (when given). The first failing batch raises; earlier batches
// stay in the transaction.
void RunSqlScript(Query& query, const Job& job, const FormatSettings& formats, Console* console);

}  // namespace ostrevane
