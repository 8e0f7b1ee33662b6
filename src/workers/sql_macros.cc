#include "workers/sql_macros.h"

namespace ostrevane {

// Placeholder until the SQL macros land.
void ReadSqlMacros(const Query&, tRec&, bool) {}
void BindParameters(Params&, const tRec&, const TFormatSettings&, const Query*, const Clock&) {}

}  // namespace ostrevane
