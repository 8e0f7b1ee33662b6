// The JSON Lines writer: one JSON object per record, one record per line
// (UTF-8 without a byte-order mark, every line ended by LF). The keys are
// the field names, made unique (NumberRepeatedNames); the values are typed:
// integers and exact decimals as the numbers they are, floating values as
// the shortest text that reads back as the same value (NaN and the
// infinities as null), Booleans as true and false, NULL as null,
// date-times as ISO 8601 text ("2026-12-10T13:56:02.123"; a date field's
// value as "2026-12-10", a time field's as "13:56:02"), text as JSON
// strings (every control character escaped, bytes that are no UTF-8 as
// U+FFFD) and binary values as base64 text.
#pragma once

#include <string>

#include "common/format_settings.h"
#include "control/job.h"
#include "writers/file_batch.h"

namespace ostrevane {

class Query;

// Writes the open result set, from its first record, into the JSON Lines
// file(s) named by job.json_path, and appends every file begun to
// job.written_files and job.json_files. A name that comes back in the call
// continues its file. With job.compression the files are compressed as
// they are written. The files take their final names only when all are
// written (with `batch`, they are handed to it instead: see StagedFiles);
// a failure leaves none of them and its message names the file being
// written. The caller holds the writer lock. On return the query is at its
// end. A file of no record is empty: nothing needs writing before the
// first record.
void WriteJsonFiles(Job& job, Query& query, const FormatSettings& formats,
                    const std::string& joiner, FileBatch* batch = nullptr);

}  // namespace ostrevane
