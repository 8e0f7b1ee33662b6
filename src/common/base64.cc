#include "common/base64.h"

#include <cstdint>

namespace ostrevane {
namespace {

void AppendLines(std::string& out, std::string_view bytes, size_t line_length) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4 +
              (line_length ? bytes.size() / line_length * 2 + 2 : 0));
  size_t column = 0;
  auto put = [&](char c) {
    out += c;
    if (line_length && ++column == line_length) {
      out += "\r\n";
      column = 0;
    }
  };
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8 |
                       unsigned(uint8_t(bytes[i + 2]));
    put(kDigits[v >> 18]);
    put(kDigits[(v >> 12) & 63]);
    put(kDigits[(v >> 6) & 63]);
    put(kDigits[v & 63]);
  }
  if (i < bytes.size()) {
    unsigned v = unsigned(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= unsigned(uint8_t(bytes[i + 1])) << 8;
    put(kDigits[v >> 18]);
    put(kDigits[(v >> 12) & 63]);
    put(i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=');
    put('=');
  }
  if (line_length && column > 0) out += "\r\n";
}

}  // namespace

std::string Base64(std::string_view bytes, size_t line_length) {
  std::string out;
  AppendLines(out, bytes, line_length);
  return out;
}

void AppendBase64(std::string& out, std::string_view bytes) { AppendLines(out, bytes, 0); }

}  // namespace ostrevane
