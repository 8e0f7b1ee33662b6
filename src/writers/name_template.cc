#include "writers/name_template.h"

#include "common/text.h"
#include "workers/dataset.h"
#include "writers/value_text.h"

namespace ostrevane {

NameTemplate::NameTemplate(const tRec& job, std::string_view tmpl, const Query& query,
                           const TFormatSettings& fs, std::string joiner)
    : fs_(fs), joiner_(std::move(joiner)) {
  fixed_ = ExpandFixedMacros(job.guid, tmpl, job.dt, fs, job.fdf, job.ftf);
  // Field values only enter the name through a field macro, so without one
  // in the fixed text the name is the same for every record.
  for (size_t i = 0; i < query.FieldCount() && !per_record_; ++i) {
    const std::string& name = query.FieldAt(i).name();
    if (name.empty()) continue;
    per_record_ = IFind(fixed_, ":" + name) != std::string::npos;
  }
}

const std::string& NameTemplate::NameFor(const Query& query) {
  if (!per_record_) return fixed_;
  name_ = ExpandFieldMacros(fixed_, query, fs_, joiner_);
  return name_;
}

}  // namespace ostrevane
