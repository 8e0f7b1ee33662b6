#include "writers/expanded_name.h"

#include <climits>

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20; }

// The value as a message shows it: control characters as "?", cut after
// about 60 bytes (at a character boundary) with "..." after it.
std::string Shown(std::string_view value) {
  constexpr size_t kLimit = 60;
  std::string shown;
  if (value.size() > kLimit) {
    size_t cut = kLimit - 3;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    shown = std::string(value.substr(0, cut)) + "...";
  } else {
    shown = value;
  }
  for (char& c : shown)
    if (IsControl(c)) c = '?';
  return shown;
}

}  // namespace

ExpandedName::ExpandedName(std::string_view tmpl)
    : text_(tmpl),
      origin_(tmpl.size(), 0),
      template_index_(tmpl.size()),
      template_size_(tmpl.size()) {
  for (size_t i = 0; i < tmpl.size(); ++i) template_index_[i] = uint32_t(i);
}

void ExpandedName::Replace(std::string_view macro, std::string_view value,
                           std::string_view source) {
  size_t size = 0;  // a match can differ in bytes from the macro as written
  size_t hit = IFind(text_, macro, 0, &size);
  if (macro.empty() || hit == std::string::npos) return;
  // No longer path can be opened: such a value names no file, and its
  // bytes' origins below would cost many times its size. Values up to a
  // few paths long go on, so that CheckLengths names the level or path
  // they would make too long.
  constexpr size_t kLongestValue = 16 * PATH_MAX;
  if (value.size() >= kLongestValue)
    throw Exception("The value of " + std::string(source) + " cannot be used in a file name: \"" +
                    Shown(value) + "\" is " + std::to_string(value.size()) +
                    " bytes long, longer than any path (" + std::to_string(PATH_MAX - 1) + ")");
  const uint32_t source_index = uint32_t(sources_.size());
  sources_.push_back({std::string(source), std::string(value)});
  std::string text;
  std::vector<uint32_t> origin, template_index;
  auto keep = [&](size_t from, size_t to) {
    text.append(text_, from, to - from);
    origin.insert(origin.end(), origin_.begin() + from, origin_.begin() + to);
    template_index.insert(template_index.end(), template_index_.begin() + from,
                          template_index_.begin() + to);
  };
  size_t pos = 0;
  for (; hit != std::string::npos; pos = hit + size, hit = IFind(text_, macro, pos, &size)) {
    keep(pos, hit);
    Span span{1, 0};
    for (size_t i = hit; i < hit + size; ++i) {
      if (origin_[i] != 0) continue;
      if (span.first > span.last) span.first = template_index_[i];
      span.last = template_index_[i];
    }
    insertion_sources_.push_back(source_index);
    insertion_spans_.push_back(span);
    text.append(value);
    origin.insert(origin.end(), value.size(), uint32_t(insertion_sources_.size()));
    template_index.insert(template_index.end(), value.size(), 0);
  }
  keep(pos, text_.size());
  text_ = std::move(text);
  origin_ = std::move(origin);
  template_index_ = std::move(template_index);
}

void ExpandedName::Reject(uint32_t origin, const std::string& reason) const {
  const Source& source = sources_[insertion_sources_[origin - 1]];
  throw Exception("The value of " + source.label + " cannot be used in a file name: \"" +
                  Shown(source.value) + "\" " + reason);
}

uint32_t ExpandedName::InsertionBetween(int64_t after, int64_t before) const {
  for (size_t i = 0; i < insertion_spans_.size(); ++i) {
    const Span& span = insertion_spans_[i];
    if (span.first <= span.last && int64_t(span.first) > after && int64_t(span.last) < before)
      return uint32_t(i + 1);
  }
  return 0;
}

void ExpandedName::CheckTemplateLevel(size_t begin) const {
  const std::string reason = "would make a \"..\" folder level";
  // The delimiter before the level, its two dots and the delimiter after
  // it, as template indices (-1 and the template's size where the name
  // starts or ends). Each must follow the one before it in the template;
  // where one does not, a value replaced the text between them.
  auto template_index = [&](size_t i, int64_t at_edge) -> int64_t {
    if (i >= text_.size()) return at_edge;
    if (origin_[i] != 0) Reject(origin_[i], reason);  // a delimiter from a value
    return template_index_[i];
  };
  int64_t previous = begin == 0 ? -1 : template_index(begin - 1, -1);
  for (size_t i = begin; i <= begin + 2; ++i) {
    const int64_t index = template_index(i, int64_t(template_size_));
    if (index != previous + 1) {
      const uint32_t origin = InsertionBetween(previous, index);
      if (origin != 0) Reject(origin, reason);
      // Only Replace() removes template text, and it records where.
      throw Exception("The file name template cannot be expanded: it " + reason);
    }
    previous = index;
  }
}

uint32_t ExpandedName::InsertionBefore(size_t at) const {
  const int64_t limit = at < text_.size() && origin_[at] == 0 ? template_index_[at] : -1;
  uint32_t nearest = 0;
  int64_t nearest_index = -1;
  for (size_t i = 0; i < insertion_spans_.size(); ++i) {
    const Span& span = insertion_spans_[i];
    if (span.first > span.last || int64_t(span.last) >= limit) continue;
    if (int64_t(span.last) > nearest_index) {
      nearest = uint32_t(i + 1);
      nearest_index = span.last;
    }
  }
  return nearest;
}

size_t ExpandedName::UnchangedPrefixSize() const {
  size_t size = 0;
  // A replaced macro leaves a value's bytes there, or (empty) shifts the
  // template's text after it.
  while (size < text_.size() && origin_[size] == 0 && template_index_[size] == size) ++size;
  return size;
}

void ExpandedName::CheckLengths(size_t name_max, size_t path_max) const {
  // Each level (and the file name) holding text from a value.
  for (size_t begin = 0; begin < text_.size();) {
    size_t end = begin;
    uint32_t from_value = 0;
    for (; end < text_.size() && !IsDelimiter(text_[end]); ++end)
      if (from_value == 0) from_value = origin_[end];
    if (from_value != 0 && end - begin > name_max)
      Reject(from_value, "would make a name of " + std::to_string(end - begin) +
                             " bytes, more than the " + std::to_string(name_max) +
                             " that the file system allows");
    begin = end + 1;
  }
  if (text_.size() <= path_max) return;
  // The whole name: the value that put in most.
  std::vector<size_t> bytes(insertion_sources_.size() + 1, 0);
  for (uint32_t origin : origin_) ++bytes[origin];
  uint32_t largest = 0;
  for (uint32_t origin = 1; origin < bytes.size(); ++origin)
    if (bytes[origin] > (largest == 0 ? 0 : bytes[largest])) largest = origin;
  if (largest != 0)
    Reject(largest, "would make a path of " + std::to_string(text_.size()) +
                        " bytes, more than the " + std::to_string(path_max) +
                        " that the file system allows");
}

void ExpandedName::CheckValuesStayBelowTemplateFolder() const {
  for (size_t i = 0; i < text_.size(); ++i) {
    const uint32_t origin = origin_[i];
    if (origin == 0) continue;
    const char c = text_[i];
    if (IsControl(c))
      Reject(origin, "holds a control character (code " + std::to_string(int(c)) + ")");
    const bool starts_insertion = i == 0 || origin_[i - 1] != origin;
    if (starts_insertion && IsDelimiter(c))
      Reject(origin, "starts with \"" + std::string(1, c) + "\"");
  }
  // A ".." level climbs out of wherever the value led; the template's own
  // ".." levels are left alone.
  size_t begin = 0;
  while (begin <= text_.size()) {
    size_t end = begin;
    while (end < text_.size() && !IsDelimiter(text_[end])) ++end;
    if (end - begin == 2 && text_[begin] == '.' && text_[begin + 1] == '.') {
      for (size_t i = begin; i < end; ++i)
        if (origin_[i] != 0) Reject(origin_[i], "would make a \"..\" folder level");
      CheckTemplateLevel(begin);
    }
    begin = end + 1;
  }
  // What is left of ".." is the template's own; it may take back the
  // levels that values made, never climb above the template's folder.
  size_t folder = UnchangedPrefixSize();
  while (folder > 0 && !IsDelimiter(text_[folder - 1])) --folder;
  // Nor may an empty value leave the template's "/" first: the name would
  // begin at the top of the file system.
  if (folder == 0 && !text_.empty() && IsDelimiter(text_[0])) {
    const uint32_t origin = InsertionBefore(0);
    if (origin != 0)
      Reject(origin, "would make the name start with \"" + text_.substr(0, 1) + "\"");
  }
  size_t depth = 0;
  for (begin = folder; begin < text_.size();) {
    size_t end = begin;
    while (end < text_.size() && !IsDelimiter(text_[end])) ++end;
    const std::string_view level(text_.data() + begin, end - begin);
    if (level == "..") {
      if (depth == 0) {
        const std::string shown = folder == 0 ? "./" : text_.substr(0, folder);
        const uint32_t origin = InsertionBefore(begin);
        const std::string reason = "would let the template's \"..\" climb above \"" + shown + "\"";
        if (origin != 0) Reject(origin, reason);
        throw Exception("The file name template cannot be expanded: a value " + reason);
      }
      --depth;
    } else if (!level.empty() && level != ".") {
      ++depth;
    }
    begin = end + 1;
  }
}

}  // namespace ostrevane
