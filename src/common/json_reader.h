// A small JSON reader: for the run reports that -rerun reads, and for test
// data (no JSON library is part of the build). Numbers keep their text as
// written; objects keep member order.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrevane {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's value, a number as written
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // Defined where JsonValue is complete: a pair that holds one cannot be
  // checked before (some compilers refuse the inline special members).
  JsonValue();
  ~JsonValue();
  JsonValue(const JsonValue&);
  JsonValue(JsonValue&&) noexcept;
  JsonValue& operator=(const JsonValue&);
  JsonValue& operator=(JsonValue&&) noexcept;

  // The member `name` of an object, or nullptr.
  const JsonValue* Find(std::string_view name) const;
};

// Parses a whole JSON document; throws Exception "JSON: WHAT at offset N"
// for the first fault, also for arrays and objects nested deeper than
// kJsonDepthLimit (a hostile file must not exhaust the stack).
inline constexpr int kJsonDepthLimit = 200;
JsonValue ParseJson(std::string_view text);

}  // namespace ostrevane
