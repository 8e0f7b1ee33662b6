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
// With job.csv_header each new file begins with the names of the columns,
// on a line of their own; a file that the call extends gets no second one.
// With job.compression the files are compressed as they are written.
void WriteCsvFiles(Job& job, Query& query, const FormatSettings& formats,
                   const std::string& joiner, FileBatch* batch = nullptr);

// What every CSV file of the job begins with, for the open result `query`:
// the byte-order mark of a UTF-16 file and, with job.csv_header, the line
// of column names (the fields of job.csv_fields in that order, else every
// field), separated, quoted and encoded as values are, without a line end
// (the first row brings one). A file of no record holds just this.
std::string CsvFileStart(const Job& job, Query& query, const FormatSettings& formats,
                         const std::string& joiner);

}  // namespace ostrevane
