#include "delivery/template_text.h"

#include <algorithm>

#include "common/text.h"

namespace ostrevane::delivery {
namespace {

struct Tag {
  size_t begin = 0;  // the open delimiter
  size_t end = 0;    // just after the close delimiter
  std::string body;  // between the delimiters, blanks trimmed
};

// Walks the tags of a template in order, following "{{=<% %>=}}" changes
// as the engine does. Stops at an unclosed tag or a malformed delimiter
// change: the engine reports those when it parses.
class TagScanner {
 public:
  explicit TagScanner(std::string_view text) : text_(text) {}

  bool Next(Tag& tag) {
    if (done_) return false;
    const size_t at = text_.find(open_, pos_);
    if (at == std::string_view::npos) return Stop();
    const size_t start = at + open_.size();
    std::string end_mark = close_;
    if (open_ == "{{" && start < text_.size() && text_[start] == '{') end_mark = "}" + close_;
    const size_t end = text_.find(end_mark, start);
    if (end == std::string_view::npos) return Stop();
    tag.begin = at;
    tag.end = end + end_mark.size();
    tag.body = Trim(text_.substr(start, end - start));
    pos_ = tag.end;
    if (!tag.body.empty() && tag.body[0] == '=' && tag.body.size() >= 2 && tag.body.back() == '=') {
      const std::string inner = Trim(std::string_view(tag.body).substr(1, tag.body.size() - 2));
      const size_t space = inner.find_first_of(" \t");
      if (space == std::string::npos) {
        done_ = true;  // this tag is still returned; the engine rejects it
        return true;
      }
      open_ = inner.substr(0, space);
      close_ = Trim(std::string_view(inner).substr(space));
      if (open_.empty() || close_.empty()) done_ = true;
    }
    return true;
  }

 private:
  bool Stop() {
    done_ = true;
    return false;
  }

  std::string_view text_;
  std::string open_ = "{{", close_ = "}}";
  size_t pos_ = 0;
  bool done_ = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int SectionDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  TagScanner tags(text);
  for (Tag tag; tags.Next(tag);) {
    if (tag.body.empty()) continue;
    if (tag.body[0] == '#' || tag.body[0] == '^')
      deepest = std::max(deepest, ++depth);
    else if (tag.body[0] == '/' && depth > 0)
      --depth;
  }
  return deepest;
}

std::string RemoveStandaloneTagLines(std::string_view text) {
  std::string out;
  size_t copied = 0;  // text before this is in `out` or dropped
  TagScanner tags(text);
  for (Tag tag; tags.Next(tag);) {
    if (tag.body.empty() || (tag.body[0] != '!' && tag.body[0] != '=')) continue;
    // Only blanks between the line's start and the tag...
    size_t line_begin = tag.begin;
    while (line_begin > 0 && IsBlank(text[line_begin - 1])) --line_begin;
    if (line_begin > 0 && text[line_begin - 1] != '\n') continue;
    if (line_begin < copied) continue;  // the line began inside an earlier tag
    // ...and between the tag and the line's end (or the template's end).
    size_t line_end = tag.end;
    while (line_end < text.size() && IsBlank(text[line_end])) ++line_end;
    if (text.substr(line_end, 2) == "\r\n")
      line_end += 2;
    else if (line_end < text.size() && text[line_end] == '\n')
      line_end += 1;
    else if (line_end != text.size())
      continue;
    out.append(text.substr(copied, line_begin - copied));
    if (tag.body[0] == '=') out.append(text.substr(tag.begin, tag.end - tag.begin));
    copied = line_end;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace ostrevane::delivery
