#include "settings/ini_file.h"

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"
#include "common/codepage.h"
#include "common/error.h"
#include "common/text.h"
#include "common/text_file.h"

namespace ostrevane {
namespace {

constexpr size_t kMaxValueUnits = 2047;

// Reads the whole file. Returns false when it does not exist; throws when
// it exists but cannot be read.
bool ReadIfExists(const std::string& path, std::string& bytes) {
  bool opened = false;
  const int error = TryReadWholeFile(path, bytes, opened);
  if (error == 0) return true;
  if (!opened && error == ENOENT) return false;
  throw Exception("Unable to read " + path + ": " + std::strerror(error));
}

// Cuts a UTF-8 text to `max_units` UTF-16 code units without splitting a
// surrogate pair.
std::string CutToUnits(const std::string& text, size_t max_units) {
  if (text.size() <= max_units) return text;  // never more units than bytes
  std::u16string units = Utf8ToUtf16(text);
  if (units.size() <= max_units) return text;
  units.resize(max_units);
  if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  return Utf16ToUtf8(units);
}

std::string OneLine(std::string_view value) {
  std::string s(value);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

// One pair of enclosing double or single quotes removed.
std::string Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseProfileInteger(std::string_view s, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint64_t magnitude = 0;
  if (s.size() - i >= 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    i += 2;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      const int d = HexValue(s[i]);
      if (d < 0) return false;
      magnitude = magnitude * 16 + static_cast<uint64_t>(d);
      if (magnitude > 0xFFFFFFFFull) return false;
    }
    const uint32_t bits = static_cast<uint32_t>(negative ? 0u - magnitude : magnitude);
    value = static_cast<int32_t>(bits);
    return true;
  }
  if (i == s.size()) return false;
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    magnitude = magnitude * 10 + static_cast<uint64_t>(s[i] - '0');
    if (magnitude > limit) return false;
  }
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                   : static_cast<int32_t>(magnitude);
  return true;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  std::string bytes;
  existed_ = ReadIfExists(path_, bytes);
  Decode(bytes);
}

void IniFile::Decode(const std::string& bytes) {
  size_t mark_length = 0;
  switch (DetectByteOrderMark(bytes, mark_length)) {
    case TextEncoding::kUtf16Le: encoding_ = IniEncoding::kUtf16Le; break;
    case TextEncoding::kUtf16Be: encoding_ = IniEncoding::kUtf16Be; break;
    case TextEncoding::kUtf8: encoding_ = IniEncoding::kUtf8Mark; break;
    case TextEncoding::kAnsi:
      encoding_ = IsValidUtf8(bytes) ? IniEncoding::kUtf8 : IniEncoding::kAnsi;
      break;
  }
  mark_ = bytes.substr(0, mark_length);
  const std::string_view body = std::string_view(bytes).substr(mark_length);
  CheckText(body);

  const bool wide = encoding_ == IniEncoding::kUtf16Le || encoding_ == IniEncoding::kUtf16Be;
  // Half a character at the end means the file was cut or damaged; lines
  // written back would land one byte out of step, so nothing is read.
  if (wide && body.size() % 2 != 0)
    throw Exception("The file " + path_ +
                    " is UTF-16 but holds an odd number of bytes; it was left unchanged");
  const size_t unit = wide ? 2 : 1;
  auto unit_at = [&](size_t pos) -> uint32_t {
    const auto a = static_cast<unsigned char>(body[pos]);
    if (!wide) return a;
    const auto b = static_cast<unsigned char>(body[pos + 1]);
    return encoding_ == IniEncoding::kUtf16Le ? (a | (b << 8)) : ((a << 8) | b);
  };
  const TextEncoding text_encoding = encoding_ == IniEncoding::kUtf16Le   ? TextEncoding::kUtf16Le
                                     : encoding_ == IniEncoding::kUtf16Be ? TextEncoding::kUtf16Be
                                                                          : TextEncoding::kUtf8;
  auto decode = [&](std::string_view raw) {
    if (encoding_ == IniEncoding::kAnsi) return AnsiToUtf8(raw);
    return DecodeText(raw, text_encoding);
  };

  size_t start = 0;
  size_t pos = 0;
  const size_t whole = body.size();
  while (pos < whole) {
    const uint32_t c = unit_at(pos);
    if (c != '\r' && c != '\n') {
      pos += unit;
      continue;
    }
    size_t end = pos + unit;
    if (c == '\r' && end < whole && unit_at(end) == '\n') end += unit;
    Line line;
    line.raw = std::string(body.substr(start, pos - start));
    line.eol = std::string(body.substr(pos, end - pos));
    line.text = decode(line.raw);
    if (default_eol_.empty()) default_eol_ = line.eol;
    lines_.push_back(std::move(line));
    start = pos = end;
  }
  if (start < body.size()) {  // a last line without a line end
    Line line;
    line.raw = std::string(body.substr(start));
    line.text = decode(line.raw);
    lines_.push_back(std::move(line));
  }
  if (default_eol_.empty()) default_eol_ = Encode(wide ? "\r\n" : "\n");
}

void IniFile::CheckText(std::string_view body) {
  TextFault fault;
  fault.path = path_;
  fault.text = body;
  fault.start = mark_.size();
  std::string unused;
  switch (encoding_) {
    case IniEncoding::kUtf8Mark:
      fault.bad = FirstInvalidUtf8(body);
      fault.encoding = "UTF-8 (it starts with the UTF-8 byte-order mark)";
      fault.fix = "Save it as UTF-8.";
      break;
    case IniEncoding::kAnsi:
      // Under the UTF-8 code page the text is read, replacement characters
      // and all, so that ansi_codepage can be found; its reader decides.
      fault.bad = AnsiToUtf8Strict(body, unused);
      fault.encoding = UnmarkedTextEncoding();
      fault.fix = UnmarkedTextFix();
      if (fault.bad != std::string_view::npos && AnsiIsUtf8()) {
        text_error_ = InvalidTextError(fault);
        return;
      }
      break;
    default:
      return;
  }
  if (fault.bad != std::string_view::npos) throw InvalidTextError(fault);
}

std::string IniFile::Encode(std::string_view utf8) const {
  switch (encoding_) {
    case IniEncoding::kUtf8:
    case IniEncoding::kUtf8Mark:
      return std::string(utf8);
    case IniEncoding::kAnsi:
      return Utf8ToAnsi(utf8);
    case IniEncoding::kUtf16Le:
    case IniEncoding::kUtf16Be: {
      std::string out;
      for (char16_t u : Utf8ToUtf16(utf8)) {
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>(u >> 8);
        if (encoding_ == IniEncoding::kUtf16Le) {
          out += lo;
          out += hi;
        } else {
          out += hi;
          out += lo;
        }
      }
      return out;
    }
  }
  return std::string(utf8);
}

IniFile::Line IniFile::MakeLine(std::string text) const {
  Line line;
  line.raw = Encode(text);
  line.eol = default_eol_;
  line.text = std::move(text);
  return line;
}

IniFile::Parsed IniFile::Parse(const std::string& text) {
  Parsed p;
  const std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '#') {
    p.kind = kBlank;
    return p;
  }
  if (t[0] == '[') {
    const size_t close = t.find(']');
    p.kind = kSection;
    p.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return p;
  }
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return p;
  p.kind = kKey;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

size_t IniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Parsed p = Parse(lines_[i].text);
    if (p.kind == kSection && IEquals(p.name, section)) return i;
  }
  return std::string::npos;
}

size_t IniFile::SectionEnd(size_t header) const {
  for (size_t i = header + 1; i < lines_.size(); ++i)
    if (Parse(lines_[i].text).kind == kSection) return i;
  return lines_.size();
}

size_t IniFile::FindKey(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == std::string::npos) return std::string::npos;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    const Parsed p = Parse(lines_[i].text);
    if (p.kind == kKey && IEquals(p.name, key)) return i;
  }
  return std::string::npos;
}

int IniFile::LineOf(std::string_view section, std::string_view key) const {
  const size_t i = FindKey(section, key);
  return i == std::string::npos ? 0 : static_cast<int>(i + 1);
}

std::vector<IniFile::Entry> IniFile::Entries() const {
  std::vector<Entry> entries;
  std::string section;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Parsed p = Parse(lines_[i].text);
    if (p.kind == kBlank) continue;
    Entry entry;
    entry.line = static_cast<int>(i + 1);
    switch (p.kind) {
      case kSection:
        entry.kind = Entry::kSection;
        entry.name = section = p.name;
        break;
      case kKey:
        entry.kind = Entry::kKey;
        entry.section = section;
        entry.name = p.name;
        entry.value = Unquoted(p.value);
        break;
      default:
        entry.name = Trim(lines_[i].text);
        break;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  const size_t i = FindKey(section, key);
  if (i == std::string::npos) return std::string(default_value);
  return CutToUnits(Unquoted(Parse(lines_[i].text).value), kMaxValueUnits);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t default_value) const {
  int32_t value = 0;
  return ParseProfileInteger(ReadString(section, key, ""), value) ? value : default_value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key,
                       bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) {
  const std::string v = OneLine(value);
  if (const size_t i = FindKey(section, key); i != std::string::npos) {
    // Keep the name as the file spells it and the line's own line end.
    Line line = MakeLine(Parse(lines_[i].text).name + "=" + v);
    line.eol = lines_[i].eol;
    lines_[i] = std::move(line);
    return;
  }
  const size_t header = FindSection(section);
  if (header == std::string::npos) {
    lines_.push_back(MakeLine(Concat({"[", section, "]"})));
    lines_.push_back(MakeLine(std::string(key) + "=" + v));
    return;
  }
  size_t after = header;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (Parse(lines_[i].text).kind == kKey) after = i;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1),
                MakeLine(std::string(key) + "=" + v));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  if (const size_t i = FindKey(section, key); i != std::string::npos) {
    // A deleted last line without a line end leaves the new last line's end
    // in place; that is harmless.
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

std::string IniFile::Serialize() const {
  std::string out = mark_;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i].raw;
    // A line that had no end gets one when lines now follow it.
    out += (lines_[i].eol.empty() && i + 1 < lines_.size()) ? default_eol_ : lines_[i].eol;
  }
  return out;
}

void IniFile::Save() const {
  AtomicFile file(path_, 0600);
  if (const int error = WriteAndCommit(file, Serialize(), true); error != 0)
    throw Exception("Unable to write to " + path_ + ": " + std::strerror(error));
}

}  // namespace ostrevane
