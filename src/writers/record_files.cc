#include "writers/record_files.h"

#include <utility>

namespace ostrevane {

RecordFiles::RecordFiles(Job& job, std::string_view tmpl, const Query& query,
                         const FormatSettings& formats, const std::string& joiner,
                         FileBatch* batch, std::string file_start, size_t buffer_size,
                         std::vector<std::string>* also_listed)
    : job_(job),
      names_(job, tmpl, query, formats, joiner),
      staged_(names_.fixed_prefix(), batch),
      file_start_(std::move(file_start)),
      buffer_size_(buffer_size),
      also_listed_(also_listed) {
  staged_.set_meter(job.meter);
  staged_.set_compression(job.compression);
}

OutputFile& RecordFiles::FileFor(const Query& query, const Flush& flush) {
  writing_ = nullptr;
  const std::string& name = names_.NameFor(query);
  if (!file_ || name != open_name_) {
    Close(flush);
    open_name_ = name;
    // A name that comes back continues its file (which has its start and
    // ends with a complete record) instead of replacing it.
    if (const size_t index = staged_.Find(name); index != StagedFiles::kNotFound)
      staged_.Open(index, OutputFile::Mode::kAppend, buffer_size_, file_);
    else
      Begin(name);
  }
  writing_ = &open_name_;
  return *file_;
}

void RecordFiles::BeginEmptyResultFile(IfEmpty if_empty) {
  if (file_ || if_empty != IfEmpty::kDeliver) return;
  writing_ = nullptr;
  open_name_ = names_.NameWithoutRecord();
  writing_ = &open_name_;
  Begin(open_name_);
}

void RecordFiles::Commit(const Flush& flush) {
  Close(flush);
  staged_.CommitAll(&job_.written_digests);
}

void RecordFiles::Close(const Flush& flush) {
  if (!file_) return;
  flush(*file_);
  file_->Close();
  file_.reset();
}

void RecordFiles::Begin(const std::string& name) {
  job_.written_files.push_back(name);
  if (also_listed_) also_listed_->push_back(name);
  staged_.Open(staged_.Begin(name), OutputFile::Mode::kCreate, buffer_size_, file_);
  file_->Write(file_start_);
}

}  // namespace ostrevane
