#pragma once

#include <string>

#include "common/format_settings.h"
#include "control/job.h"
#include "writers/file_batch.h"

namespace ostrevane {

class Query;

// Writes the open result set (on its first record) into the CSV file(s)
// named by job.csv_path; empties job.written_files first and lists every file created.
// The files take their final names only when all are written; a failure
// leaves none of them and its message names the file being written.
// With `batch`, the files are handed to it instead (see StagedFiles).
// A result without records writes nothing, or under -ifempty:deliver
// (job.if_empty) one file without rows (UTF-16: its byte-order mark only).
// The caller holds the writer lock. On return the query is at its end.
void WriteCsvFiles(Job& job, Query& query, const FormatSettings& formats,
                   const std::string& joiner, FileBatch* batch = nullptr);

}  // namespace ostrevane
