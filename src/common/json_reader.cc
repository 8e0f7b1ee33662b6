#include "common/json_reader.h"

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  JsonValue Document() {
    JsonValue v = Value();
    Space();
    if (i_ != s_.size()) Fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw Exception("JSON: " + what + " at offset " + std::to_string(i_));
  }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool Word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  JsonValue Value() {
    Space();
    if (i_ >= s_.size()) Fail("unexpected end");
    JsonValue v;
    const char c = s_[i_];
    if ((c == '{' || c == '[') && ++depth_ > kJsonDepthLimit) Fail("nested too deep");
    if (c == '{') {
      ++i_;
      v.kind = JsonValue::Kind::kObject;
      if (!Take('}')) {
        do {
          Space();
          std::string name = String();
          Expect(':');
          v.members.emplace_back(std::move(name), Value());
        } while (Take(','));
        Expect('}');
      }
      --depth_;
    } else if (c == '[') {
      ++i_;
      v.kind = JsonValue::Kind::kArray;
      if (!Take(']')) {
        do v.items.push_back(Value());
        while (Take(','));
        Expect(']');
      }
      --depth_;
    } else if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      v.text = String();
    } else if (Word("true")) {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = true;
    } else if (Word("false")) {
      v.kind = JsonValue::Kind::kBool;
    } else if (Word("null")) {
      v.kind = JsonValue::Kind::kNull;
    } else {
      const size_t start = i_;
      while (i_ < s_.size() && std::string_view("+-0123456789.eE").find(s_[i_]) != std::string_view::npos)
        ++i_;
      if (i_ == start) Fail("unexpected character");
      v.kind = JsonValue::Kind::kNumber;
      v.text = std::string(s_.substr(start, i_ - start));
    }
    return v;
  }

  unsigned Hex4() {
    if (i_ + 4 > s_.size()) Fail("short \\u escape");
    unsigned u = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = s_[i_++];
      u <<= 4;
      if (h >= '0' && h <= '9') u |= unsigned(h - '0');
      else if (h >= 'a' && h <= 'f') u |= unsigned(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') u |= unsigned(h - 'A' + 10);
      else Fail("bad \\u escape");
    }
    return u;
  }

  std::string String() {
    if (i_ >= s_.size() || s_[i_] != '"') Fail("expected a string");
    ++i_;
    std::string out;
    while (true) {
      if (i_ >= s_.size()) Fail("unclosed string");
      const char c = s_[i_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) Fail("unclosed string");
      const char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '/': case '\\': case '"': out += e; break;
        case 'u': {
          char32_t u = Hex4();
          if (u >= 0xD800 && u <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
            i_ += 2;
            const char32_t low = Hex4();
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, u);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }

  std::string_view s_;
  size_t i_ = 0;
  int depth_ = 0;  // arrays and objects open around the current value
};

}  // namespace

JsonValue::JsonValue() = default;
JsonValue::~JsonValue() = default;
JsonValue::JsonValue(const JsonValue&) = default;
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(const JsonValue&) = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

JsonValue ParseJson(std::string_view text) { return Parser(text).Document(); }

}  // namespace ostrevane
