// The names table: display names of data sources, from names.csv.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

struct NameRow {
  std::string display_name;
  std::string data_source;
};
using NamesTable = std::vector<NameRow>;

// Reads `folder` + "names.csv" (folder ends with "/"); an empty table when
// the file does not exist.
NamesTable LoadNamesTable(const std::string& folder);
std::string DisplayNameOf(const NamesTable& names, std::string_view data_source);

}  // namespace ostrevane
