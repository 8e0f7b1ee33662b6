#include "writers/xml_text.h"

#include <array>

namespace ostrevane {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at s[i] that XML allows, 0 when
// the bytes are no valid UTF-8 or name U+FFFE or U+FFFF. s[i] >= 0x80.
size_t AllowedSequence(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len;
  unsigned long cp;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0xFFFE)) return 0;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return len;
}

// Bytes below 0x80 that need more than a copy.
constexpr std::array<bool, 128> MakeSpecial(bool attribute) {
  std::array<bool, 128> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  if (attribute) {
    t['&'] = t['<'] = t['>'] = t['"'] = true;
  } else {
    t['\t'] = t['\r'] = t['\n'] = false;
    t[']'] = true;
  }
  return t;
}
constexpr std::array<bool, 128> kAttributeSpecial = MakeSpecial(true);
constexpr std::array<bool, 128> kCdataSpecial = MakeSpecial(false);

// Copies s[i..] up to the next byte that `special` marks or that is not
// ASCII; returns the index reached.
size_t CopyPlain(std::string& out, std::string_view s, size_t i,
                 const std::array<bool, 128>& special) {
  size_t j = i;
  while (j < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[j]);
    if (c >= 0x80 || special[c]) break;
    ++j;
  }
  out.append(s.data() + i, j - i);
  return j;
}

// Handles a byte >= 0x80 at s[i]; returns the index after it.
size_t CopyNonAscii(std::string& out, std::string_view s, size_t i) {
  const size_t len = AllowedSequence(s, i);
  if (len == 0) {
    out += kReplacement;
    return i + 1;
  }
  out.append(s.data() + i, len);
  return i + len;
}

}  // namespace

void AppendXmlAttributeText(std::string& out, std::string_view s) {
  size_t i = 0;
  while ((i = CopyPlain(out, s, i, kAttributeSpecial)) < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      i = CopyNonAscii(out, s, i);
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      case '\t': out += "&#9;"; break;
      default: out += kReplacement; break;
    }
    ++i;
  }
}

void AppendCdata(std::string& out, std::string_view s) {
  out += "<![CDATA[";
  size_t i = 0;
  while ((i = CopyPlain(out, s, i, kCdataSpecial)) < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      i = CopyNonAscii(out, s, i);
    } else if (c == ']') {
      if (s.compare(i, 3, "]]>") == 0) {
        out += "]]]><![CDATA[]>";
        i += 3;
      } else {
        out += ']';
        ++i;
      }
    } else {
      out += kReplacement;
      ++i;
    }
  }
  out += "]]>";
}

}  // namespace ostrevane
