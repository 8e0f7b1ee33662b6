#pragma once

#include <cstddef>

#include "common/datetime.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "writers/file_batch.h"
#include "writers/run_buffer.h"

namespace ostrevane {

class Query;

// Writes the open result set into the XML dataset file(s) named by job.xml_path
// and appends every file saved to job.written_files. Does nothing when job.xml_template is
// set, nor for a result without records, unless -ifempty:deliver
// (job.if_empty) asks for one data set with RECORDS COUNT="0". The files take their final names
// only when all are written; a failure leaves none of them and its message names the file being
// written. The caller holds the writer lock.
void WriteXmlFile(Job& job, Query& query, const FormatSettings& formats);

// The same with a chosen clock (for TIMESTAMP), the memory a run's
// records may take before they go to a temporary file, and the batch that
// takes the files instead of their final names (see StagedFiles).
struct XmlWriterOptions {
  const Clock* clock = nullptr;  // null: the system clock
  size_t run_memory = RunBuffer::kDefaultMemoryLimit;
  FileBatch* batch = nullptr;
};
void WriteXmlFile(Job& job, Query& query, const FormatSettings& formats,
                  const XmlWriterOptions& options);

}  // namespace ostrevane
