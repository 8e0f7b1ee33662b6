#include "common/json_writer.h"

namespace ostrevane {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
size_t ValidSequence(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < low || b(1) > high) return 0;
  for (size_t i = 2; i < n; ++i)
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  return n;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned code) {
    out += "\\u00";
    out += kHex[code >> 4];
    out += kHex[code & 15];
  };
  out += '"';
  size_t plain = 0;  // start of the bytes not yet appended that need nothing
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\' && c < 0x7F) {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      const size_t n = ValidSequence(text.substr(i));
      const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
      if (n != 0 && !c1) {
        i += n;  // valid UTF-8 stays in the plain run
        continue;
      }
      out.append(text.substr(plain, i - plain));
      if (c1) {
        escape(static_cast<unsigned char>(text[i + 1]));  // U+0080..U+009F
        i += 2;
      } else {
        out += kReplacement;
        i += 1;
      }
      plain = i;
      continue;
    }
    out.append(text.substr(plain, i - plain));
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default: escape(c);
    }
    plain = ++i;
  }
  out.append(text.substr(plain));
  out += '"';
}

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendJsonString(out, text);
  return out;
}

void JsonWriter::NewLine() {
  out_ += '\n';
  out_.append(has_member_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (has_member_.empty()) return;
  if (has_member_.back()) out_ += ',';
  has_member_.back() = true;
  NewLine();
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_ += bracket;
  has_member_.push_back(false);
}

void JsonWriter::Close(char bracket) {
  const bool had = !has_member_.empty() && has_member_.back();
  if (!has_member_.empty()) has_member_.pop_back();
  if (had) NewLine();
  out_ += bracket;
  if (has_member_.empty()) out_ += '\n';
}

void JsonWriter::BeginObject() { Open('{'); }
void JsonWriter::EndObject() { Close('}'); }
void JsonWriter::BeginArray() { Open('['); }
void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += JsonString(key);
  out_ += ": ";
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ += JsonString(text);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

}  // namespace ostrevane
