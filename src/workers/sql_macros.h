// SQL comment macros ("--param ", "--fields ") and parameter binding.
#pragma once

#include "common/datetime.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "workers/dataset.h"

namespace ostrevane {

// Reads the "--param " and "--fields " lines of the query's SQL into
// rec.params / rec.fields, each only when that list is empty on entry.
// Does nothing when `skip` is set.
void ReadSqlMacros(const Query& query, tRec& rec, bool skip);

// Sets the parameters named in rec.params (values with "?GUID", "?DATE",
// "?TIME" expanded, a new GUID per parameter, the moment from `clock`),
// then, when `dataset` is given, every parameter named like one of its
// fields to that field's type and current value.
void BindParameters(Params& params, const tRec& rec, const TFormatSettings& fs,
                    const Query* dataset, const Clock& clock = SystemClock());

}  // namespace ostrevane
