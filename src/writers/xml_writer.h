#pragma once

#include "common/format_settings.h"
#include "control/job.h"

namespace ostrevane {

class Query;

// Writes the open result set into the XML dataset file(s) named by job.xml
// and appends every file saved to job.attach. Does nothing when job.xmlt is
// set. The caller holds the writer lock.
void WriteXml(tRec& job, Query& query, const TFormatSettings& fs);

}  // namespace ostrevane
