// The report template: any template over a small result set renders or
// fails with the program's error, within small limits of depth, visits and
// output, so no template can crash the run or exhaust its memory.
#include <memory>
#include <string>

#include "common/error.h"
#include "data/dataset.h"
#include "delivery/report.h"
#include "fuzz_support.h"
#include "testing/memory_backend.h"

using namespace ostrevane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FormatSettings formats = DefaultFormatSettings();
  const std::string path = fuzz::WriteScratchFile(
      "report.mustache", std::string_view(reinterpret_cast<const char*>(data), size));

  auto db = std::make_shared<testing::MemoryDatabase>();
  Value when;
  when.SetDateTime(45000.75);
  db->results.push_back({{{"ID", FieldType::kInteger, 4},
                          {"Name", FieldType::kString, 20},
                          {"frRecNo", FieldType::kString, 5},
                          {"When", FieldType::kDateTime, 8}},
                         {{Value::Integer(1), Value::Text("Ann & <Bob>"), Value::Text("x"), when},
                          {Value::Integer(2), Value::Text("{{ID}}"), Value::Null(), Value::Null()},
                          {Value::Integer(3), Value::Text("Zo\xC3\xAB"), Value::Text(""), when}}});
  Connection connection(testing::MemoryFactory(db));
  connection.Open();
  Query query(connection);
  query.set_rewindable(true);
  query.SetSql("select");
  query.Open();

  delivery::ReportLimits limits;
  limits.max_section_depth = 12;
  limits.max_output_bytes = size_t(1) << 20;
  limits.max_section_entries = 20'000;
  try {
    const std::string document = delivery::RenderReport(path, query, formats, limits);
    FUZZ_CHECK(document.size() <= limits.max_output_bytes + delivery::WrapReportBody("").size());
  } catch (const Error&) {
  }
  return 0;
}
