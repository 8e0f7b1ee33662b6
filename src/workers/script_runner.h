#pragma once

#include "common/format_settings.h"
#include "control/job.h"
#include "workers/dataset.h"

namespace ostrevane {

// Runs job.ss as batches separated by lines reading "go" (any case, nothing
// else on the line), each batch executed on `query` with the job's params
// bound. Every batch ended by a "go" line prints one "." on the console.
// The first failing batch raises; earlier batches stay in the transaction.
void RunScript(Query& query, tRec job, const TFormatSettings& fs);

}  // namespace ostrevane
