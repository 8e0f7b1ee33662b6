#include "delivery/mime_text.h"

#include <ctime>

namespace ostrevane::delivery {

std::string Base64(std::string_view bytes, size_t line_length) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4 + (line_length ? bytes.size() / line_length * 2 + 2 : 0));
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
  return out;
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 128) return false;
  return true;
}

std::string EncodeHeaderValue(std::string_view utf8) {
  std::string text(utf8);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  if (IsAscii(text)) return text;
  // "=?UTF-8?B?" + 60 base64 characters + "?=" is 72 characters: 45 bytes a word.
  constexpr size_t kBytesPerWord = 45;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = std::min(text.size(), i + kBytesPerWord);
    // Never cut a character: back off to the start of a UTF-8 sequence.
    while (end < text.size() && end > i + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      --end;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(std::string_view(text).substr(i, end - i)) + "?=";
    i = end;
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
