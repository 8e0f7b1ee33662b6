// SQL comment macros ("--param ", "--fields ") and parameter binding.
#pragma once

#include <string_view>
#include <vector>

#include "common/datetime.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"

namespace ostrevane {

enum class MacroKind { kParam, kFields };

// An entry of a macro line and the number (1-based) of its line in the SQL.
struct MacroEntry {
  NameValue entry;
  int line = 0;
};

// The entries of the SQL's "--param " lines (name;type;value, the type
// ignored) or "--fields " lines (name=pattern), in order.
std::vector<MacroEntry> ReadMacroLines(std::string_view sql, MacroKind kind);

// Reads the "--param " and "--fields " lines of `sql` into
// job.sql_parameters / job.csv_fields, each only when that list is empty on
// entry; a "--param " entry that job.run_parameters names is left out (the
// run's value stands above it). (Script jobs read none: there they are
// plain comments.)
void ApplySqlMacros(std::string_view sql, Job& job);

// Sets the parameters named in job.run_parameters, then those named in
// job.sql_parameters (values with "?GUID", "?DATE", "?TIME" expanded, a new
// GUID per parameter, the moment from `clock`, then their "${...}"
// references), then, when `dataset` is given, every parameter named like
// one of its fields to that field's type and current value. Throws the
// error of a reference that cannot be expanded.
void BindJobParameters(Params& params, const Job& job, const FormatSettings& formats,
                       const Query* dataset, const Clock& clock = SystemClock());

}  // namespace ostrevane
