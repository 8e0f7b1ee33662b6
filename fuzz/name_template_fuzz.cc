// File-name templates. The template is "out/" and a fuzzed rest: whatever
// the field values, the GUID and the date and time texts are, every name
// handed out must start with the template's own text up to its folder and
// never climb above that folder (or be refused with the program's error).
// When the rest holds no ".." of its own, names must also stay inside
// "out".
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "common/error.h"
#include "control/job.h"
#include "data/dataset.h"
#include "fuzz_support.h"
#include "testing/memory_backend.h"
#include "writers/name_template.h"

using namespace ostrevane;

namespace {

// Whether resolving `name` level by level, as the system does, from
// `begin` ever leaves the first `floor` levels after it (0: climbs above
// where it began).
bool Climbs(const std::string& name, size_t begin, int floor) {
  int depth = 0;
  while (begin <= name.size()) {
    size_t end = name.find('/', begin);
    if (end == std::string::npos) end = name.size();
    const std::string_view level(name.data() + begin, end - begin);
    if (level == "..") {
      if (--depth < floor) return true;
    } else if (!level.empty() && level != ".") {
      ++depth;
    }
    begin = end + 1;
  }
  return false;
}

Value MakeValue(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return Value::Null();
    case 1:
      return Value::Integer(input.ConsumeIntegral<int32_t>());
    case 2: {
      Value v;
      v.SetDateTime(input.ConsumeFloatingPointInRange(-1000.0, 80000.0));
      return v;
    }
    default:
      return Value::Text(input.ConsumeRandomLengthString(12));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FormatSettings formats = DefaultFormatSettings();
  FuzzedDataProvider input(data, size);

  auto db = std::make_shared<testing::MemoryDatabase>();
  testing::MemoryResult result;
  const size_t field_count = input.ConsumeIntegralInRange<size_t>(1, 3);
  for (size_t i = 0; i < field_count; ++i)
    result.fields.push_back({input.ConsumeRandomLengthString(6), FieldType::kString, 20});
  const size_t row_count = input.ConsumeIntegralInRange<size_t>(1, 3);
  for (size_t r = 0; r < row_count; ++r) {
    std::vector<Value> row;
    for (size_t i = 0; i < field_count; ++i) row.push_back(MakeValue(input));
    result.rows.push_back(std::move(row));
  }
  db->results.push_back(std::move(result));

  Job job;
  job.timestamp = input.ConsumeFloatingPointInRange(0.0, 80000.0);
  job.date_pattern = input.ConsumeRandomLengthString(10);
  job.time_pattern = input.ConsumeRandomLengthString(10);
  const bool own_dots = input.ConsumeBool();
  std::string rest = input.ConsumeRemainingBytesAsString();
  for (size_t i = 1; i < rest.size() && !own_dots; ++i)
    if (rest[i] == '.' && rest[i - 1] == '.') rest[i] = '_';
  const std::string tmpl = "out/" + rest;

  Connection connection(testing::MemoryFactory(db));
  connection.Open();
  Query query(connection);
  query.SetSql("select");
  query.Open();
  try {
    NameTemplate names(job, tmpl, query, formats, " ");
    for (; !query.Eof(); query.Next()) {
      std::string name;
      try {
        name = names.NameFor(query);
      } catch (const Error&) {
        continue;  // refused: the job would fail here
      }
      std::string folder = names.fixed_prefix();
      if (folder.size() < name.size())
        while (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder.pop_back();
      std::string slashed = name;  // both delimiters, as the system sees them
      for (char& c : slashed)
        if (c == '\\') c = '/';
      if (!name.starts_with(folder) || Climbs(slashed, folder.size(), 0) ||
          (!own_dots && Climbs(slashed, 0, 1))) {
        std::fprintf(stderr, "template \"%s\" gave \"%s\"\n", tmpl.c_str(), name.c_str());
        fuzz::OracleFailed("a name from values leaves the template's folder");
      }
    }
  } catch (const Error&) {
  }
  return 0;
}
