#include "common/text.h"

#include "common/case_fold.h"

namespace ostrevane {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

bool IsBlank(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
static char ToLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

bool IEquals(std::string_view a, std::string_view b) { return NamesEqual(a, b); }

bool IStartsWith(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (ToUpperAscii(s[i]) != ToUpperAscii(prefix[i])) return false;
  return true;
}

std::string ToUpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = ToUpperAscii(c);
  return r;
}

std::string ToLowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = ToLowerChar(c);
  return r;
}

size_t IFind(std::string_view hay, std::string_view needle, size_t from, size_t* match_size) {
  const NameMatch match = FindName(hay, needle, from);
  if (match_size) *match_size = match.size;
  return match.pos;
}

std::string Concat(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) out.append(p);
  return out;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t pos = 0;
  for (size_t hit; (hit = s.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
    out.append(s.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(s.substr(pos));
  return out;
}

std::string ReplaceAllIgnoreCase(std::string_view s, std::string_view from,
                                 std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t pos = 0;
  size_t size = 0;
  for (size_t hit; (hit = IFind(s, from, pos, &size)) != std::string_view::npos; pos = hit + size) {
    out.append(s.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(s.substr(pos));
  return out;
}

std::vector<std::string> SplitLines(std::string_view s) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' || s[i] == '\n') {
      lines.emplace_back(s.substr(start, i - start));
      if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < s.size()) lines.emplace_back(s.substr(start));
  return lines;
}

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i,
// or returns -1 (and advances by one byte) for an invalid sequence.
static long DecodeUtf8(std::string_view s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) { ++i; return c; }
  int len;
  long cp;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
  else { ++i; return -1; }
  if (i + len > s.size()) { ++i; return -1; }
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) { ++i; return -1; }
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    ++i;
    return -1;
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

size_t FirstInvalidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) { ++i; continue; }
    const size_t at = i;
    if (DecodeUtf8(s, i) < 0) return at;
  }
  return std::string_view::npos;
}

bool IsValidUtf8(std::string_view s) { return FirstInvalidUtf8(s) == std::string_view::npos; }

std::string SanitizeUtf8(std::string_view s) {
  if (IsValidUtf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    long cp = DecodeUtf8(s, i);
    AppendUtf8(out, cp < 0 ? char32_t(0xFFFD) : char32_t(cp));
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    long cp = DecodeUtf8(s, i);
    if (cp < 0) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  AssignUtf16AsUtf8(out, s);
  return out;
}

void AssignUtf16AsUtf8(std::string& out, std::u16string_view s) {
  // At most three bytes per code unit (a surrogate pair makes four of two).
  out.resize(s.size() * 3);
  char* p = out.data();
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned cp = s[i];
    if (cp < 0x80) {
      *p++ = char(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x800) {
      *p++ = char(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      *p++ = char(0xE0 | (cp >> 12));
      *p++ = char(0x80 | ((cp >> 6) & 0x3F));
    } else {
      *p++ = char(0xF0 | (cp >> 18));
      *p++ = char(0x80 | ((cp >> 12) & 0x3F));
      *p++ = char(0x80 | ((cp >> 6) & 0x3F));
    }
    *p++ = char(0x80 | (cp & 0x3F));
  }
  out.resize(size_t(p - out.data()));
}

void AssignSanitizedUtf8(std::string& out, std::string_view s) {
  if (IsValidUtf8(s)) {
    out.assign(s);
    return;
  }
  out.clear();
  for (size_t i = 0; i < s.size();) {
    long cp = DecodeUtf8(s, i);
    AppendUtf8(out, cp < 0 ? char32_t(0xFFFD) : char32_t(cp));
  }
}

void AppendUtf16Le(std::string& out, std::string_view utf8) {
  // ASCII fast path: most values are plain ASCII.
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += char(c);
      out += '\0';
      ++i;
      continue;
    }
    long cp = DecodeUtf8(utf8, i);
    if (cp < 0) cp = 0xFFFD;
    auto unit = [&out](unsigned u) {
      out += char(u & 0xFF);
      out += char(u >> 8);
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(unsigned(cp));
    }
  }
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, const char* prefix, unsigned long code, int digits) {
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += kHexDigits[(code >> shift) & 0xF];
}

// Characters that are invisible or move text around on a screen: the C1
// controls (NEL among them), the line and paragraph separators, and every
// bidirectional control (the marks, embeddings, overrides and isolates).
bool IsHiddenControl(long code_point) {
  return (code_point >= 0x80 && code_point <= 0x9F) || code_point == 0x061C ||
         code_point == 0x200E || code_point == 0x200F ||
         (code_point >= 0x2028 && code_point <= 0x202E) ||
         (code_point >= 0x2066 && code_point <= 0x2069);
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string ShowControlCharacters(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const unsigned char u = static_cast<unsigned char>(s[i]);
    if (u >= 0x20 && u < 0x7F) {
      out += char(u);
      ++i;
    } else if (u < 0x80) {
      ++i;
      if (u == '\r') {
        out += "\\r";
      } else if (u == '\n') {
        out += "\\n";
      } else if (u == '\t') {
        out += "\\t";
      } else {
        AppendEscape(out, "\\x", u, 2);
      }
    } else {
      const size_t start = i;
      const long code_point = DecodeUtf8(s, i);
      if (code_point < 0)
        AppendEscape(out, "\\x", u, 2);  // a byte that is no UTF-8 (i moved past it)
      else if (IsHiddenControl(code_point))
        AppendEscape(out, "\\u", static_cast<unsigned long>(code_point), 4);
      else
        out.append(s.substr(start, i - start));
    }
  }
  return out;
}

std::string CutForMessage(std::string_view value, size_t limit) {
  if (value.size() <= limit) return std::string(value);
  size_t head = limit / 2;
  while (head > 0 && IsContinuationByte(value[head])) --head;
  size_t tail = value.size() - limit / 2;
  while (tail < value.size() && IsContinuationByte(value[tail])) ++tail;
  return Concat({value.substr(0, head), "[... ", std::to_string(tail - head), " bytes cut ...]",
                 value.substr(tail)});
}

}  // namespace ostrevane
