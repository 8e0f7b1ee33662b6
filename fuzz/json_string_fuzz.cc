// JSON string literals of arbitrary bytes: the result is always one valid
// JSON string in valid UTF-8 (no raw control character, every backslash
// starts a known escape), and text that was valid UTF-8 without characters
// to escape comes back unchanged between the quotes.
#include <string>
#include <string_view>

#include "common/json_writer.h"
#include "fuzz_support.h"

namespace {

// Length of the valid UTF-8 sequence at the start of s, or 0.
size_t Utf8Length(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || s.size() < n) return 0;
  unsigned cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(i) & 0x3F);
  }
  const unsigned min = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string out = ostrevane::JsonString(input);
  FUZZ_CHECK(out.size() >= 2 && out.front() == '"' && out.back() == '"');
  const std::string_view body = std::string_view(out).substr(1, out.size() - 2);
  bool plain = true;
  for (size_t i = 0; i < body.size();) {
    const unsigned char c = static_cast<unsigned char>(body[i]);
    FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    FUZZ_CHECK(c != '"');
    if (c == '\\') {
      plain = false;
      FUZZ_CHECK(i + 1 < body.size());
      const char e = body[i + 1];
      FUZZ_CHECK(std::string_view("\"\\nrtbfu").find(e) != std::string_view::npos);
      i += e == 'u' ? 6 : 2;
      FUZZ_CHECK(i <= body.size());
      continue;
    }
    const size_t n = Utf8Length(body.substr(i));
    FUZZ_CHECK(n > 0);
    i += n;
  }
  if (plain) {
    // No escape was needed: only a replacement may differ from the input.
    bool valid = true;
    for (size_t i = 0; i < input.size();) {
      const size_t n = Utf8Length(std::string_view(input).substr(i));
      if (n == 0) {
        valid = false;
        break;
      }
      i += n;
    }
    if (valid) FUZZ_CHECK(body == input);
  }
  return 0;
}
