// The Mustache engine under the report, for the files of this folder only:
// it names the template library's types, which nothing above delivery sees.
#pragma once

#include <map>
#include <mustache.hpp>
#include <string>

#include "delivery/report.h"

namespace ostrevane::delivery {

namespace mstch = kainjow::mustache;

// Renders template `text` over `root`. A name that is not found as written
// is looked up again through `folded` (case-folded name -> name as given),
// so {{customer_id}} finds the field CUSTOMER_ID. `path` names the template
// in messages. Throws Error(kEReportError) for a template the engine cannot
// parse or render, or one that passes a limit.
std::string RenderTemplate(const std::string& text, const mstch::data& root,
                           std::map<std::string, std::string> folded, const std::string& path,
                           const ReportLimits& limits = {});

}  // namespace ostrevane::delivery
