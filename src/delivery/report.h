// The report engine of HTML mail bodies: a Mustache template file rendered
// over the job's open result set.
//
// Names a template sees:
//   frDataSet   the records, in order; inside it every field by its name
//               (case as the query gives it, or any other case), frRecNo
//               (1, 2, ...) and frFields (the record's fields as name/value)
//   frFields    the field names, in order, each as {{name}}
// {{FIELD}} is a field's value text HTML-escaped, {{{FIELD}}} unescaped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/format_settings.h"
#include "settings/settings.h"

namespace ostrevane {

class Query;

namespace delivery {

inline constexpr char kEReportError[] = "EReportError";
inline constexpr char kReportContentType[] = "text/html; CharSet = UTF-8";

// What one report may cost. No template and no result set can exhaust the
// process: beyond a limit the report fails with EReportError and only its
// job fails.
struct ReportLimits {
  int max_section_depth = 100;                 // sections inside sections
  size_t max_output_bytes = size_t(64) << 20;  // the rendered document
  int64_t max_section_entries = 50'000'000;    // section visits, empty ones included
  int64_t max_records = kDefaultReportMaxRecords;  // records of the result; 0: any number
};

// Renders `template_path` over `query`, rewound to its first record and read
// to its end (an inactive query counts as empty). The records are read from
// the rows a rewindable query keeps; a query read once is kept here while
// it is read. A result of more records than limits.max_records fails with
// EReportError before anything is rendered. Values appear as their
// cell text with the default date-time format of `formats`; binary values show
// nothing. A template that is not a whole HTML document (holds no "<html",
// in any case) is wrapped in one. A missing template file gives the empty
// report's document. Throws Error(kEReportError) with the engine's message
// for a template it cannot parse, EFOpenError for one it cannot read.
std::string RenderReport(const std::string& template_path, Query& query,
                         const FormatSettings& formats, const ReportLimits& limits = {});

// The document of a report whose template rendered `body` (no "<html").
std::string WrapReportBody(const std::string& body);

}  // namespace delivery
}  // namespace ostrevane
