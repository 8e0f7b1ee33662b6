#include "writers/name_template.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/dataset.h"
#include "writers/compressor.h"
#include "writers/output_files.h"
#include "writers/value_text.h"

namespace ostrevane {
namespace {

// The longest file name that the file system of `folder` allows, asked of
// the nearest folder on its way that exists.
size_t NameMax(std::string folder) {
  while (true) {
    const std::string clean = CleanPath(folder);
    errno = 0;
    const long max = ::pathconf(clean.empty() ? "." : clean.c_str(), _PC_NAME_MAX);
    if (max > 0) return size_t(max);
    if ((errno != ENOENT && errno != ENOTDIR) || clean.empty() || clean == "/") return NAME_MAX;
    folder = FolderPart(clean.ends_with('/') ? clean.substr(0, clean.size() - 1) : clean);
  }
}

// The template of a compressed file ends with the method's suffix: it is
// added unless the template has it already (in any letter case).
std::string WithSuffix(std::string_view tmpl, const Compression& compression) {
  const std::string_view suffix = CompressedSuffix(compression);
  std::string name(tmpl);
  if (!(name.size() >= suffix.size() &&
        IEquals(std::string_view(name).substr(name.size() - suffix.size()), suffix)))
    name += suffix;
  return name;
}

}  // namespace

NameTemplate::NameTemplate(const Job& job, std::string_view tmpl, const Query& query,
                           const FormatSettings& formats, std::string joiner)
    : formats_(formats),
      joiner_(std::move(joiner)),
      fixed_(WithSuffix(tmpl, job.compression)),
      template_(tmpl) {
  ExpandFixedMacros(fixed_, job.id, job.timestamp, formats, job.date_pattern, job.time_pattern);
  // Field values only enter the name through a field macro, so without one
  // in the fixed text the name is the same for every record. The first
  // field macro found ends the template's own text.
  size_t fixed = fixed_.UnchangedPrefixSize();
  for (size_t i = 0; i < query.FieldCount(); ++i) {
    const std::string& name = query.FieldAt(i).name();
    if (name.empty()) continue;
    const size_t at = IFind(fixed_.text(), ":" + name);
    if (at == std::string::npos) continue;
    per_record_ = true;
    if (at < fixed) fixed = at;
  }
  fixed_prefix_ = fixed_.text().substr(0, fixed);
  if (fixed < fixed_.text().size())
    while (!fixed_prefix_.empty() && fixed_prefix_.back() != '/' && fixed_prefix_.back() != '\\')
      fixed_prefix_.pop_back();
  name_max_ = NameMax(fixed_prefix_.size() == fixed_.text().size() ? FolderPart(fixed_prefix_)
                                                                   : fixed_prefix_);
}

void NameTemplate::Check(const ExpandedName& name) const {
  name.CheckValuesStayBelowTemplateFolder();
  name.CheckLengths(name_max_, PATH_MAX - 1);
  // Only a value that joins with the template's text into another macro
  // could change the template's folder; it must not move it.
  if (name.UnchangedPrefixSize() < fixed_prefix_.size())
    throw Exception("The file name template cannot be expanded: a value changes its folder \"" +
                    fixed_prefix_ + "\"");
}

const std::string& NameTemplate::NameWithoutRecord() {
  if (per_record_)
    throw Exception("-ifempty:deliver: the file name template \"" +
                    ShowControlCharacters(CutForMessage(template_)) +
                    "\" takes a field's value, and an empty result has none; give the file a "
                    "name without field macros");
  if (!fixed_checked_) Check(fixed_);
  fixed_checked_ = true;
  return fixed_.text();
}

const std::string& NameTemplate::NameFor(const Query& query) {
  if (!per_record_) {
    if (!fixed_checked_) Check(fixed_);
    fixed_checked_ = true;
    return fixed_.text();
  }
  ExpandedName name = fixed_;
  ExpandFieldMacros(name, query, formats_, joiner_);
  Check(name);
  name_ = name.text();
  return name_;
}

}  // namespace ostrevane
