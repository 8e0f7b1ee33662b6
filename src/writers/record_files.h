// The files of a writer call that writes its records as lines, one after
// another (CSV, JSON Lines): the record's file from the name template, a
// new file begun with the format's start, a name that comes back continued
// where it ended. Shared by the writers so that switching files, the file
// of an empty result and committing are one piece of code.
//
// Ownership: the staged files (and their temporary files, until Commit())
// belong to this object; the caller keeps the bytes it has not written yet
// and hands them over through the `flush` it passes in, before a file is
// closed.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"
#include "writers/file_batch.h"
#include "writers/name_template.h"
#include "writers/output_files.h"
#include "writers/staged_files.h"

namespace ostrevane {

class RecordFiles {
 public:
  // Writes into `flush`'s argument what the caller holds for the open
  // file; called before that file is closed.
  using Flush = std::function<void(OutputFile&)>;

  // `file_start` is what every new file begins with (a byte-order mark, a
  // header line). `also_listed`, when given, gets every file begun, after
  // `job.written_files`.
  RecordFiles(Job& job, std::string_view tmpl, const Query& query, const FormatSettings& formats,
              const std::string& joiner, FileBatch* batch, std::string file_start,
              size_t buffer_size, std::vector<std::string>* also_listed = nullptr);
  RecordFiles(const RecordFiles&) = delete;
  RecordFiles& operator=(const RecordFiles&) = delete;

  // The file of the current record of `query`; when its name differs from
  // the open file's, the open file is flushed and closed first. While the
  // name is worked out, writing() is null: a name that fails belongs to no
  // file.
  OutputFile& FileFor(const Query& query, const Flush& flush);
  // Under -ifempty:deliver, when no record was written: begins the one
  // file that the template names without a record.
  void BeginEmptyResultFile(IfEmpty if_empty);
  // Flushes and closes the open file, then gives every file its final name
  // (its size and checksum into job.written_digests).
  void Commit(const Flush& flush);
  // The name of the file being written, or null: what a failure spoils.
  const std::string* writing() const { return writing_; }

 private:
  void Close(const Flush& flush);
  void Begin(const std::string& name);

  Job& job_;
  NameTemplate names_;
  StagedFiles staged_;
  const std::string file_start_;
  const size_t buffer_size_;
  std::vector<std::string>* also_listed_;
  // Declared after `staged_`: closed before the temporary files go.
  std::optional<OutputFile> file_;
  std::string open_name_;
  const std::string* writing_ = nullptr;
};

}  // namespace ostrevane
