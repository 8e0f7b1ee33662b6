// SQL comment macros ("--param ", "--fields ") and parameter binding.
#pragma once

#include "common/datetime.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"

namespace ostrevane {

// Reads the "--param " and "--fields " lines of the query's SQL into
// job.sql_parameters / job.csv_fields, each only when that list is empty on entry.
// Does nothing when `skip` is set.
void ApplySqlMacros(const Query& query, Job& job, bool skip);

// Sets the parameters named in job.sql_parameters (values with "?GUID", "?DATE",
// "?TIME" expanded, a new GUID per parameter, the moment from `clock`),
// then, when `dataset` is given, every parameter named like one of its
// fields to that field's type and current value.
void BindJobParameters(Params& params, const Job& job, const FormatSettings& formats,
                       const Query* dataset, const Clock& clock = SystemClock());

}  // namespace ostrevane
