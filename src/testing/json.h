// A small JSON reader for test data files (no JSON library is part of the
// build). Numbers keep their text as written; objects keep member order.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrevane::testing {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's value, a number as written
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member `name` of an object, or nullptr.
  const JsonValue* Find(std::string_view name) const;
};

// Parses a whole JSON document; throws std::runtime_error naming the offset
// of the first fault.
JsonValue ParseJson(std::string_view text);

// Reads each JSON Lines file of `paths` with Python's json module (one
// document per line, every line ended by LF, UTF-8) and with jq; "" when
// both read every line, else what they reported. A tool that is not
// installed is left out.
std::string JsonLinesProblems(const std::vector<std::string>& paths);

}  // namespace ostrevane::testing
