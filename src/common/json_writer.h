// A small writer of JSON text, for machine-readable reports. It keeps the
// commas and the nesting; the caller keeps the structure sensible (a key
// before every value inside an object, none inside an array).
//
// Strings: '"', '\' and the control characters U+0000..U+001F, U+007F and
// U+0080..U+009F are escaped ("\n", "\t", ... or "\u00XX"); other valid
// UTF-8 passes unchanged.
// A byte that is not part of valid UTF-8 (a stray byte, an overlong form,
// a surrogate, a value above U+10FFFF, a cut-off sequence) becomes U+FFFD,
// one for each such byte, so the text is always valid JSON in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// `text` as a JSON string literal, quotes included (rules above).
std::string JsonString(std::string_view text);
// The same appended to `out`.
void AppendJsonString(std::string& out, std::string_view text);

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The key of the next value, inside an object.
  void Key(std::string_view key);
  void String(std::string_view text);
  void Int(int64_t value);
  void Bool(bool value);
  void Null();

  // The text so far; complete once every object and array is ended. Two
  // spaces of indentation per level, one member per line.
  const std::string& text() const { return out_; }

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void NewLine();

  std::string out_;
  // One entry per open object or array: whether it has a member yet.
  std::vector<bool> has_member_;
  bool after_key_ = false;
};

}  // namespace ostrevane
