#include "common/error.h"
#include "writers/csv_writer.h"
#include "writers/xml_writer.h"

namespace ostrevane {

// Placeholders until the writers land.
void WriteCsv(tRec&, Query&, const TFormatSettings&, const std::string&) {
  throw Exception("CSV output is not available in this build");
}
void WriteXml(tRec&, Query&, const TFormatSettings&) {
  throw Exception("XML output is not available in this build");
}

}  // namespace ostrevane
