#pragma once

#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"
#include "log/console.h"

namespace ostrevane {

// Runs job.sql as batches separated by lines reading "go" (any case, nothing
// else on the line), each batch executed on `query` with the job's params
// bound. Every batch ended by a "go" line prints one "." on `console`
// (when given). The first failing batch raises; earlier batches stay in the
// transaction.
void RunSqlScript(Query& query, Job job, const FormatSettings& formats, Console* console);

}  // namespace ostrevane
