// The output file name of each record: a job's name template with the
// macros that cannot change during one writer call ("?GUID", "?DATE",
// "?TIME") expanded once, and the field macros expanded per record only
// when the template holds one. Every name is checked before it is handed
// out: text from values stays below the folder that the template names
// (writers/expanded_name.h).
#pragma once

#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "control/job.h"
#include "writers/expanded_name.h"

namespace ostrevane {

class Query;

class NameTemplate {
 public:
  // `tmpl` is the job's csv or xml text; `query` is the open result set
  // whose fields the macros may name. Keeps references to `formats`.
  NameTemplate(const Job& job, std::string_view tmpl, const Query& query,
               const FormatSettings& formats, std::string joiner);

  // The name for the query's current record; valid until the next call.
  // Raises the error of ExpandedName::CheckValuesStayBelowTemplateFolder.
  const std::string& NameFor(const Query& query);
  // Whether names can differ from record to record.
  bool per_record() const { return per_record_; }

 private:
  const FormatSettings& formats_;
  std::string joiner_;
  ExpandedName fixed_;  // the template after the record-independent macros
  bool fixed_checked_ = false;
  bool per_record_ = false;
  std::string name_;
};

}  // namespace ostrevane
