// A file name expanded from its template, with the origin of each of its
// bytes: the template's own text, or the macro whose value put it there.
// The template's text is the operator's to choose (an absolute folder, a
// ".."); text from values (result fields, the job's GUID, date and time) may
// only add folder levels below the folder that the template names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

class ExpandedName {
 public:
  explicit ExpandedName(std::string_view tmpl) : text_(tmpl), origin_(tmpl.size(), 0) {}

  const std::string& text() const { return text_; }

  // Replaces every match of `macro` (letter case ignored, left to right, as
  // ReplaceAllIgnoreCase does) by `value`. `source` says where the value
  // comes from, for messages: "field REGION", "?DATE".
  void Replace(std::string_view macro, std::string_view value, std::string_view source);

  // Raises Exception("The value of <source> cannot be used in a file name:
  // \"<value, shortened>\" <reason>") when text from a value holds a C0
  // control character, when a value put in starts with "/" or "\", or when
  // a folder level of the name that holds text from a value is "..".
  void CheckValuesStayBelowTemplateFolder() const;

 private:
  struct Source {
    std::string label;
    std::string value;
  };
  [[noreturn]] void Reject(uint32_t origin, const std::string& reason) const;

  std::string text_;
  // Per byte of text_: 0 for the template's text, else 1 + the index of the
  // insertion (one replaced match) that put it there.
  std::vector<uint32_t> origin_;
  std::vector<uint32_t> insertion_sources_;  // per insertion, its index into sources_
  std::vector<Source> sources_;
};

}  // namespace ostrevane
