#include "writers/xml_text.h"

#include <array>

#include "common/base64.h"
#include "common/codepage.h"
#include "common/text.h"
#include "writers/unique_names.h"
#include "writers/xml_name_chars.h"

namespace ostrevane {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at s[i] (s[i] >= 0x80): negative when
// the bytes are no valid UTF-8 (one byte is then consumed), its length when
// valid, and `forbidden` set for U+FFFE and U+FFFF, which XML does not allow.
int Sequence(std::string_view s, size_t i, bool& forbidden) {
  forbidden = false;
  const unsigned char c = static_cast<unsigned char>(s[i]);
  int len;
  unsigned long cp;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
  else return -1;
  if (i + size_t(len) > s.size()) return -1;
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + size_t(k)]);
    if ((cc & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return -1;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return -1;
  forbidden = cp == 0xFFFE || cp == 0xFFFF;
  return len;
}

// Bytes below 0x80 that need more than a copy.
constexpr std::array<bool, 128> MakeSpecial(bool attribute) {
  std::array<bool, 128> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  if (attribute) {
    t['&'] = t['<'] = t['>'] = t['"'] = true;
  } else {
    t['\t'] = t['\n'] = false;
    t[']'] = true;
  }
  return t;
}
constexpr std::array<bool, 128> kAttributeSpecial = MakeSpecial(true);
constexpr std::array<bool, 128> kCdataSpecial = MakeSpecial(false);

// The control characters that XML documents can carry: TAB, LF and CR.
constexpr std::array<bool, 32> kCarriedControl = [] {
  std::array<bool, 32> t{};
  t['\t'] = t['\n'] = t['\r'] = true;
  return t;
}();

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
  bool forbidden;
  const int len = Sequence(s, i, forbidden);
  if (len < 0) {
    out += kReplacement;
    return i + 1;
  }
  if (forbidden)
    out += kReplacement;
  else
    out.append(s.data() + i, size_t(len));
  return i + size_t(len);
}

void AppendEscapedUnit(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "_x";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
  out += '_';
}

}  // namespace

std::string XmlName(std::string_view name) {
  if (name.empty()) return "_";
  const std::u16string units = Utf8ToUtf16(name);
  // "xmlns" and "xmlns:..." would declare a namespace: their first letter
  // is escaped.
  const bool declares = name == "xmlns" || name.starts_with("xmlns:");
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    size_t length = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      length = 2;
    }
    const bool starts_escape = c == '_' && i + 1 < units.size() && units[i + 1] == 'x';
    if (starts_escape || (i == 0 && declares) ||
        !(i == 0 ? IsXmlNameStartChar(c) : IsXmlNameChar(c))) {
      for (size_t k = 0; k < length; ++k) AppendEscapedUnit(out, units[i + k]);
    } else {
      out += Utf16ToUtf8(std::u16string_view(units).substr(i, length));
    }
    i += length - 1;
  }
  return out;
}

std::vector<std::string> XmlFieldNames(const std::vector<std::string_view>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  for (std::string_view name : names) out.push_back(XmlName(name));
  NumberRepeatedNames(out, &names);
  return out;
}

void AppendBinaryElement(std::string& out, std::string_view name, std::string_view bytes) {
  out += '<';
  out += name;
  bool carried = true;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) < 0x20 && !kCarriedControl[static_cast<unsigned char>(c)]) {
      carried = false;
      break;
    }
  if (carried) {
    out += '>';
    AppendCdata(out, Cp1252ToUtf8(bytes));
  } else {
    out += " ENCODING=\"base64\">";
    AppendBase64(out, bytes);
  }
  out += "</";
  out += name;
  out += '>';
}

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
    } else if (c == '\r') {
      out += "]]>&#13;<![CDATA[";
      ++i;
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
