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
  explicit ExpandedName(std::string_view tmpl);

  const std::string& text() const { return text_; }

  // Replaces every match of `macro` (letter case ignored, left to right, as
  // ReplaceAllIgnoreCase does) by `value`. `source` says where the value
  // comes from, for messages: "field REGION", "?DATE".
  void Replace(std::string_view macro, std::string_view value, std::string_view source);

  // Raises Exception("The value of <source> cannot be used in a file name:
  // \"<value, shortened>\" <reason>") when text from a value holds a C0
  // control character, when a value put in starts with "/" or "\", or when
  // a folder level of the name that holds text from a value is "..". A ".."
  // level made only of the template's text is the template's own only when
  // the template as written has it as a whole level: a value that is empty,
  // or that ends with "/", must not turn the template's ".:A." or ":A.."
  // into one. Nor may a value let a ".." of the template climb above the
  // template's folder (the folder part of UnchangedPrefixSize()): with
  // "out/sub/:A/../g.csv", a value "." (or "", or "./.") would make the
  // template's ".." lead to "out/"; that is refused, naming the macro
  // before that "..", with "would let the template's \"..\" climb above
  // \"out/sub/\"". An empty value before the template's first "/" or "\"
  // is refused too (the name would start at the top of the file system).
  void CheckValuesStayBelowTemplateFolder() const;

  // Raises the value error when a folder level or the file name holding
  // text from a value is longer than `name_max` bytes ("would make a name
  // of N bytes, more than the M that the file system allows"), or when the
  // whole name holding text from a value is longer than `path_max` bytes
  // (naming the longest value: "would make a path of N bytes, ...").
  void CheckLengths(size_t name_max, size_t path_max) const;

  // The length of the start of text() that is the template's own text as
  // written: everything before the first macro that was replaced.
  size_t UnchangedPrefixSize() const;

 private:
  struct Source {
    std::string label;
    std::string value;
  };
  [[noreturn]] void Reject(uint32_t origin, const std::string& reason) const;
  // Rejects the ".." level text_[begin, begin + 2), all of it template text,
  // unless the template has it as a whole level.
  void CheckTemplateLevel(size_t begin) const;
  // The origin (1 + index) of an insertion whose match replaced template
  // text strictly between the template's bytes `after` and `before` (-1 and
  // the template's size stand for its two ends); 0 when none did.
  uint32_t InsertionBetween(int64_t after, int64_t before) const;
  // The origin of the insertion that is nearest before the template's text
  // at text_[at]; 0 when none is.
  uint32_t InsertionBefore(size_t at) const;

  std::string text_;
  // Per byte of text_: 0 for the template's text, else 1 + the index of the
  // insertion (one replaced match) that put it there.
  std::vector<uint32_t> origin_;
  // Per byte of text_ that is the template's text: its index in the template.
  std::vector<uint32_t> template_index_;
  size_t template_size_ = 0;
  std::vector<uint32_t> insertion_sources_;  // per insertion, its index into sources_
  // Per insertion, the first and last template index of the template text
  // that its match replaced; {1, 0} when the match held none.
  struct Span {
    uint32_t first, last;
  };
  std::vector<Span> insertion_spans_;
  std::vector<Source> sources_;
};

}  // namespace ostrevane
