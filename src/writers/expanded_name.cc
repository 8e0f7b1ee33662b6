#include "writers/expanded_name.h"

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

void ExpandedName::Replace(std::string_view macro, std::string_view value,
                           std::string_view source) {
  size_t hit = IFind(text_, macro);
  if (macro.empty() || hit == std::string::npos) return;
  const uint32_t source_index = uint32_t(sources_.size());
  sources_.push_back({std::string(source), std::string(value)});
  std::string text;
  std::vector<uint32_t> origin;
  size_t pos = 0;
  for (; hit != std::string::npos; pos = hit + macro.size(), hit = IFind(text_, macro, pos)) {
    text.append(text_, pos, hit - pos);
    origin.insert(origin.end(), origin_.begin() + pos, origin_.begin() + hit);
    insertion_sources_.push_back(source_index);
    text.append(value);
    origin.insert(origin.end(), value.size(), uint32_t(insertion_sources_.size()));
  }
  text.append(text_, pos);
  origin.insert(origin.end(), origin_.begin() + pos, origin_.end());
  text_ = std::move(text);
  origin_ = std::move(origin);
}

void ExpandedName::Reject(uint32_t origin, const std::string& reason) const {
  const Source& source = sources_[insertion_sources_[origin - 1]];
  throw Exception("The value of " + source.label + " cannot be used in a file name: \"" +
                  Shown(source.value) + "\" " + reason);
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
    }
    begin = end + 1;
  }
}

}  // namespace ostrevane
