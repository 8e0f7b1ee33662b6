#include "common/text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/codepage.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"

namespace ostrevane {

TextEncoding DetectByteOrderMark(std::string_view b, size_t& mark_length) {
  mark_length = 0;
  if (b.size() >= 2) {
    if (b[0] == '\xFF' && b[1] == '\xFE') { mark_length = 2; return TextEncoding::kUtf16Le; }
    if (b[0] == '\xFE' && b[1] == '\xFF') { mark_length = 2; return TextEncoding::kUtf16Be; }
    if (b.size() >= 3 && b[0] == '\xEF' && b[1] == '\xBB' && b[2] == '\xBF') {
      mark_length = 3;
      return TextEncoding::kUtf8;
    }
  }
  return TextEncoding::kAnsi;
}

std::string DecodeText(std::string_view content, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return SanitizeUtf8(content);
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be: {
      const bool le = encoding == TextEncoding::kUtf16Le;
      std::u16string u;
      u.reserve((content.size() + 1) / 2);
      for (size_t i = 0; i < content.size(); i += 2) {
        unsigned char a = static_cast<unsigned char>(content[i]);
        unsigned char b = i + 1 < content.size() ? static_cast<unsigned char>(content[i + 1]) : 0;
        if (i + 1 >= content.size()) u += char16_t(a);  // odd last byte: high byte 0
        else u += le ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
      }
      return Utf16ToUtf8(u);
    }
    case TextEncoding::kAnsi:
      if (IsValidUtf8(content)) return std::string(content);
      return AnsiToUtf8(content);
  }
  return std::string(content);
}

std::string ReadWholeFile(const std::string& path) {
  const std::string name = NormalizePath(path);
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    throw Error(kEFOpenError, "Cannot open file \"" + AbsolutePath(name) + "\". " +
                                  std::strerror(errno));
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) {
    throw Error(kEFOpenError, "Cannot read file \"" + AbsolutePath(name) + "\". " +
                                  std::strerror(errno));
  }
  return std::move(ss).str();
}

}  // namespace ostrevane
