// The output file name of each record: a job's name template with the
// macros that cannot change during one writer call ("?GUID", "?DATE",
// "?TIME") expanded once, and the field macros expanded per record only
// when the template holds one. Every name is checked before it is handed
// out: text from values stays below the folder that the template names
// (writers/expanded_name.h), and no name that a value made is longer than
// the file system allows, so that such a name fails before its file is
// begun.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "control/job.h"
#include "writers/expanded_name.h"

namespace ostrevane {

class Query;

class NameTemplate {
 public:
  // `tmpl` is the job's csv, xml or json text; `query` is the open result
  // set whose fields the macros may name. With job.compression the names
  // end with its suffix (".gz", ".zst"), which is added to the template
  // unless it ends with it already. Keeps references to `formats`.
  NameTemplate(const Job& job, std::string_view tmpl, const Query& query,
               const FormatSettings& formats, std::string joiner);

  // The name for the query's current record; valid until the next call.
  // Raises the errors of ExpandedName::CheckValuesStayBelowTemplateFolder
  // and CheckLengths.
  const std::string& NameFor(const Query& query);
  // The name of the one file of a result without records (-ifempty:deliver).
  // Raises Exception when the name would take a field's value, which no
  // record gives, and the errors of NameFor.
  const std::string& NameWithoutRecord();
  // Whether names can differ from record to record.
  bool per_record() const { return per_record_; }
  // The start that every name shares and that is the template's own text:
  // the whole name when the template has no macro that is replaced, else
  // the template's folder, up to the last "/" or "\" before the first
  // macro ("" when there is none). StagedFiles follows symbolic links
  // there and nowhere below it.
  const std::string& fixed_prefix() const { return fixed_prefix_; }

 private:
  // Raises the errors of a name about to be handed out.
  void Check(const ExpandedName& name) const;

  const FormatSettings& formats_;
  std::string joiner_;
  ExpandedName fixed_;  // the template after the record-independent macros
  bool fixed_checked_ = false;
  bool per_record_ = false;
  std::string template_;  // as the job wrote it, for messages
  std::string fixed_prefix_;
  size_t name_max_;  // the file system's longest name below the template's folder
  std::string name_;
};

}  // namespace ostrevane
