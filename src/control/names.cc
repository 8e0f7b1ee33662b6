#include "control/names.h"

#include "common/path.h"
#include "common/text.h"
#include "control/cut_field.h"
#include "control/job_files.h"

namespace ostrevane {

NamesTable LoadNamesTable(const std::string& folder) {
  const std::string path = folder + "names.csv";
  if (!FileExists(path)) return {};
  const std::vector<std::string> lines = SplitLines(ReadTextFile(path));
  // Every line is a row, blank lines included: there is no header and no
  // comment syntax. A field may be enclosed in doubled double quotes to
  // protect a ";"; text after the second field is ignored.
  NamesTable table(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view rest(lines[i]);
    table[i].display_name = CutField(rest, ";", "\"\"");
    table[i].data_source = CutField(rest, ";", "\"\"");
  }
  return table;
}

std::string DisplayNameOf(const NamesTable& names, std::string_view data_source) {
  if (IsBlank(data_source)) return std::string(data_source);
  for (const NameRow& row : names)
    if (!row.data_source.empty() && IEquals(row.data_source, data_source))
      return row.display_name;
  return std::string(data_source);
}

}  // namespace ostrevane
