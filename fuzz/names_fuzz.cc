// names.csv: any file loads, and every row's data source finds a display
// name of a row with that data source.
#include <string>

#include "common/error.h"
#include "common/text.h"
#include "control/names.h"
#include "fuzz_support.h"

using namespace ostrevane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteScratchFile("names.csv", std::string_view(reinterpret_cast<const char*>(data), size));
  NamesTable table;
  try {
    table = LoadNamesTable(fuzz::ScratchFolder() + "/");
  } catch (const Error&) {
    return 0;
  }
  for (const NameRow& row : table) {
    if (row.data_source.empty() || IsBlank(row.data_source)) continue;
    const std::string shown = DisplayNameOf(table, row.data_source);
    bool from_a_matching_row = false;
    for (const NameRow& other : table)
      from_a_matching_row |=
          IEquals(other.data_source, row.data_source) && other.display_name == shown;
    FUZZ_CHECK(from_a_matching_row);
  }
  return 0;
}
