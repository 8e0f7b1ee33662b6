// Date-time patterns: any pattern and any value format without failing,
// and a pattern prepared once gives the same text as the interpreter.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "common/format_settings.h"
#include "fuzz_support.h"
#include "writers/datetime_format.h"

using namespace ostrevane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FormatSettings formats = DefaultFormatSettings();
  FuzzedDataProvider input(data, size);
  const bool escape = input.ConsumeBool();
  // Ordinary dates most of the time, any double (NaN, infinities, huge) too.
  const DateTime value = input.ConsumeBool()
                             ? input.ConsumeFloatingPoint<double>()
                             : input.ConsumeFloatingPointInRange(-700000.0, 3000000.0);
  const std::string pattern = input.ConsumeRemainingBytesAsString();

  const std::string text = FormatDateTime(pattern, formats, value, escape);
  std::string appended = "x";
  AppendDateTimeText(appended, pattern, formats, value, escape);
  FUZZ_CHECK(appended == "x" + text);

  const DateTimePattern prepared(pattern, formats, escape);
  std::string from_prepared;
  prepared.Append(from_prepared, value);
  if (from_prepared != text) {
    std::fprintf(stderr, "pattern \"%s\" value %.17g: \"%s\" prepared, \"%s\" interpreted\n",
                 pattern.c_str(), value, from_prepared.c_str(), text.c_str());
    fuzz::OracleFailed("a prepared pattern formats differently");
  }
  return 0;
}
