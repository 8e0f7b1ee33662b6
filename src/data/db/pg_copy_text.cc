#include "data/db/pg_copy_text.h"

#include <cstring>

namespace ostrevane {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

}  // namespace

bool PgCopyRow::Parse(std::string_view line, size_t columns) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  fields_.clear();
  decoded_.clear();
  // Decoded text is never longer than its escaped form, so one reservation
  // keeps every view into decoded_ valid for the whole row.
  decoded_.reserve(line.size());
  // Most rows hold no backslash at all (no NULL, nothing escaped): one
  // look at the whole row spares the per-field search for one.
  const char* const end = line.data() + line.size();
  const bool any_escape = std::memchr(line.data(), '\\', line.size()) != nullptr;
  for (const char* start = line.data();;) {
    const char* tab = static_cast<const char*>(std::memchr(start, '\t', size_t(end - start)));
    const char* stop = tab ? tab : end;
    const std::string_view raw(start, size_t(stop - start));
    Field f;
    if (!any_escape || std::memchr(raw.data(), '\\', raw.size()) == nullptr)
      f.text = raw;
    else if (raw == "\\N")
      f.null = true;
    else
      f.text = Unescape(raw);
    fields_.push_back(f);
    if (!tab) break;
    start = tab + 1;
  }
  return fields_.size() == columns;
}

std::string_view PgCopyRow::Unescape(std::string_view raw) {
  const size_t begin = decoded_.size();
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c != '\\' || i + 1 == raw.size()) {
      decoded_.push_back(c);
      continue;
    }
    c = raw[++i];
    if (IsOctal(c)) {
      int v = c - '0';
      for (int k = 0; k < 2 && i + 1 < raw.size() && IsOctal(raw[i + 1]); ++k) v = v * 8 + (raw[++i] - '0');
      decoded_.push_back(char(v & 0xff));
      continue;
    }
    if (c == 'x' && i + 1 < raw.size() && HexDigit(raw[i + 1]) >= 0) {
      int v = HexDigit(raw[++i]);
      if (i + 1 < raw.size() && HexDigit(raw[i + 1]) >= 0) v = v * 16 + HexDigit(raw[++i]);
      decoded_.push_back(char(v));
      continue;
    }
    switch (c) {
      case 'b': c = '\b'; break;
      case 'f': c = '\f'; break;
      case 'n': c = '\n'; break;
      case 'r': c = '\r'; break;
      case 't': c = '\t'; break;
      case 'v': c = '\v'; break;
      default: break;  // the character itself, a backslash included
    }
    decoded_.push_back(c);
  }
  return std::string_view(decoded_.data() + begin, decoded_.size() - begin);
}

}  // namespace ostrevane
