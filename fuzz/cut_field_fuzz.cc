// The quoted-field splitter: the view and the string form must agree token
// by token, every cut must make progress, and a token is never longer than
// the text it was cut from.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <string_view>

#include "common/error.h"
#include "control/cut_field.h"
#include "fuzz_support.h"

using ostrevane::CutField;
using ostrevane::Error;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string delimiter = input.ConsumeRandomLengthString(4);
  const std::string insulator = input.ConsumeRandomLengthString(4);
  const std::string source = input.ConsumeRemainingBytesAsString();

  std::string_view view_rest(source);
  std::string string_rest(source);
  while (!view_rest.empty()) {
    const size_t before = view_rest.size();
    std::string from_view, view_error;
    std::string from_string, string_error;
    try {
      from_view = CutField(view_rest, delimiter, insulator);
    } catch (const Error& e) {
      view_error = e.message();
    }
    try {
      from_string = CutField(string_rest, delimiter, insulator);
    } catch (const Error& e) {
      string_error = e.message();
    }
    FUZZ_CHECK(view_error == string_error);
    FUZZ_CHECK(std::string_view(string_rest) == view_rest);
    if (!view_error.empty()) break;
    FUZZ_CHECK(from_view == from_string);
    FUZZ_CHECK(view_rest.size() < before);
    FUZZ_CHECK(from_view.size() <= before - view_rest.size());
  }
  return 0;
}
