// The list file of a run and the expansion of its jobs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/datetime.h"
#include "control/job.h"
#include "control/options.h"

namespace ostrevane {

// One record per non-blank line, in file order.
std::vector<tRec> ReadListFile(const std::string& name, const OptionContext& ctx);
// Completes every record: GUID, time stamp, connection string, defaults,
// and what a line takes from the line above.
void ExpandJobs(std::vector<tRec>& jobs, const OptionContext& ctx,
                const Clock& clock = SystemClock());
std::string ExtractDataSource(std::string_view init_string);
// Appends "; Data Source=" + ds; raises "Data Source already implemented"
// when the string already names one.
void AddDataSource(std::string& init_string, std::string_view data_source);

// The lines that "-list:FILE -check" prints for the expanded jobs.
std::vector<std::string> DescribeJobs(const std::vector<tRec>& jobs);

}  // namespace ostrevane
