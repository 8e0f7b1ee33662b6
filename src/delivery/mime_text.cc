#include "delivery/mime_text.h"

#include <algorithm>
#include <ctime>

namespace ostrevane::delivery {

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 128) return false;
  return true;
}

namespace {

std::string OneLine(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Text bytes that an encoded word of at most `length` characters holds:
// "=?UTF-8?B?" and "?=" take 12, base64 four for every three bytes.
size_t BytesPerWord(size_t length) { return length < 16 ? 0 : (length - 12) / 4 * 3; }

}  // namespace

std::vector<std::string> EncodedWords(std::string_view utf8, size_t first_length, size_t length) {
  const std::string text = OneLine(utf8);
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    const size_t budget = std::max<size_t>(BytesPerWord(words.empty() ? first_length : length), 4);
    size_t end = std::min(text.size(), i + budget);
    // Never cut a character: back off to the start of a UTF-8 sequence.
    while (end < text.size() && end > i + 1 && IsContinuation(text[end])) --end;
    words.push_back("=?UTF-8?B?" + Base64(std::string_view(text).substr(i, end - i)) + "?=");
    i = end;
  }
  return words;
}

std::string FoldedHeader(std::string_view name, const std::vector<std::string>& words) {
  std::string out(name);
  out += ':';
  size_t column = out.size();
  for (size_t k = 0; k < words.size(); ++k) {
    const std::string& w = words[k];
    if (k > 0 && !w.empty() && column + 1 + w.size() > kHeaderLineLength) {
      out += "\r\n";
      column = 0;
    }
    out += ' ';
    out += w;
    column += 1 + w.size();
  }
  return out;
}

std::string UnstructuredHeader(std::string_view name, std::string_view utf8) {
  const std::string text = OneLine(utf8);
  std::vector<std::string> words;
  // Readers drop the blanks that begin or end a header's value: a text
  // with such blanks keeps them inside encoded words.
  const bool blank_ends = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  bool plain = IsAscii(text) && text.find("=?") == std::string::npos && !blank_ends;
  for (size_t start = 0; plain;) {
    const size_t space = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, space - start));
    for (char c : words.back())
      if (static_cast<unsigned char>(c) < 32 || c == 127) plain = false;
    // The first word shares its line with "Name: ", the others with a space.
    const size_t before = words.size() == 1 ? name.size() + 2 : 1;
    if (before + words.back().size() > kHeaderLineLength) plain = false;
    if (space == text.size()) break;
    start = space + 1;
  }
  if (!plain) {
    const size_t first = kHeaderLineLength - name.size() - 2;  // after "Name: "
    words = EncodedWords(text, std::min(first, kEncodedWordLength), kEncodedWordLength);
  }
  return FoldedHeader(name, words);
}

std::vector<std::string> MimeParameter(std::string_view name, std::string_view utf8_value) {
  const std::string value = OneLine(utf8_value);
  bool plain = value.find("=?") == std::string::npos && !value.empty();
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u >= 127 || c == '"' || c == '\\') plain = false;
  }
  // One line holds a space, `name="value"` and the ";" after it.
  if (plain && name.size() + value.size() + 5 <= kHeaderLineLength)
    return {std::string(name) + "=\"" + value + "\""};
  // RFC 2231 attribute characters stand for themselves; others are %XX.
  auto keep = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
  };
  std::vector<std::string> pieces;  // one character each, encoded
  for (size_t i = 0; i < value.size();) {
    size_t n = 1;
    while (i + n < value.size() && IsContinuation(value[i + n])) ++n;
    std::string piece;
    for (size_t k = i; k < i + n; ++k) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto u = static_cast<unsigned char>(value[k]);
      if (keep(value[k])) {
        piece += value[k];
      } else {
        piece += '%';
        piece += kHex[u >> 4];
        piece += kHex[u & 15];
      }
    }
    pieces.push_back(std::move(piece));
    i += n;
  }
  const std::string charset = "UTF-8''";
  std::string whole = charset;
  for (const std::string& p : pieces) whole += p;
  const std::string single = std::string(name) + "*=";
  if (1 + single.size() + whole.size() + 1 <= kHeaderLineLength) return {single + whole};
  // Continuations: each part on its own folded line, a character never cut.
  std::vector<std::string> parts;
  std::string current = charset;
  auto prefix = [&](size_t n) { return std::string(name) + "*" + std::to_string(n) + "*="; };
  for (const std::string& p : pieces) {
    const size_t empty_size = parts.empty() ? charset.size() : 0;
    if (current.size() > empty_size &&
        1 + prefix(parts.size()).size() + current.size() + p.size() + 1 > kHeaderLineLength) {
      parts.push_back(prefix(parts.size()) + current);
      current.clear();
    }
    current += p;
  }
  parts.push_back(prefix(parts.size()) + current);
  return parts;
}

std::string AsciiFileName(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto u = static_cast<unsigned char>(utf8[i]);
    if (u >= 0x80) {
      while (i + 1 < utf8.size() && IsContinuation(utf8[i + 1])) ++i;
      out += '_';
    } else if (u < 32 || u == 127 || utf8[i] == '"' || utf8[i] == '\\') {
      out += '_';
    } else if (utf8[i] == '?' && !out.empty() && out.back() == '=') {
      out += '_';
    } else {
      out += utf8[i];
    }
  }
  return out;
}

std::string MailDate(long long unix_time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t t = static_cast<std::time_t>(unix_time);
  std::tm tm{};
  localtime_r(&t, &tm);
  long offset = tm.tm_gmtoff / 60;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec, sign, offset / 60, offset % 60);
  return buf;
}

}  // namespace ostrevane::delivery
