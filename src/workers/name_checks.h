// The names a job gives must meet its statements and its result: every
// parameter value given binds a placeholder, every placeholder gets a value,
// every -fields name is a field. A mismatch is a mistake in the list or the
// SQL; it fails the job with an Exception naming both sides (and the
// nearest name when one is close) before any file is written. The run's
// -params (job.run_parameters) give values to every job's statements but
// the global post-SQL, and are never a mistake where a statement does not
// use them.
#pragma once

#include "control/job.h"
#include "data/dataset.h"

namespace ostrevane {

// A result job, with `main` holding its SQL and before the SQL's macro
// lines are read into the job: the parameters of the main SQL, of the
// per-record SQL (placeholders that a result field may fill are left to
// CheckResultNames) and of the global post-SQL.
void CheckResultJobParameters(const Job& job, Query& main, SqlDialect dialect);

// A result job once its result is open: the -fields names (when a CSV file
// is written) and the per-record SQL's placeholders that neither a value nor
// a field fills. `fields_from_sql`: job.csv_fields came from the SQL's
// "--fields " lines.
void CheckResultNames(const Job& job, bool fields_from_sql, Query& result, SqlDialect dialect);

// A script job: every placeholder of every batch gets a -params value, and
// every value of the job's own -params is used by some batch.
void CheckScriptParameters(const Job& job, SqlDialect dialect);

}  // namespace ostrevane
