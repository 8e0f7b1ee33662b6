#include "writers/name_template.h"

#include "common/text.h"
#include "data/dataset.h"
#include "writers/value_text.h"

namespace ostrevane {

NameTemplate::NameTemplate(const Job& job, std::string_view tmpl, const Query& query,
                           const FormatSettings& formats, std::string joiner)
    : formats_(formats), joiner_(std::move(joiner)), fixed_(tmpl) {
  ExpandFixedMacros(fixed_, job.id, job.timestamp, formats, job.date_pattern, job.time_pattern);
  // Field values only enter the name through a field macro, so without one
  // in the fixed text the name is the same for every record.
  for (size_t i = 0; i < query.FieldCount() && !per_record_; ++i) {
    const std::string& name = query.FieldAt(i).name();
    if (name.empty()) continue;
    per_record_ = IFind(fixed_.text(), ":" + name) != std::string::npos;
  }
}

const std::string& NameTemplate::NameFor(const Query& query) {
  if (!per_record_) {
    if (!fixed_checked_) fixed_.CheckValuesStayBelowTemplateFolder();
    fixed_checked_ = true;
    return fixed_.text();
  }
  ExpandedName name = fixed_;
  ExpandFieldMacros(name, query, formats_, joiner_);
  name.CheckValuesStayBelowTemplateFolder();
  name_ = name.text();
  return name_;
}

}  // namespace ostrevane
