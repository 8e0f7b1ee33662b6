#include "common/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/codepage.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "common/unique_fd.h"

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

namespace {

// The UTF-16 unit at `at` (at + 1 < text.size()).
unsigned UnitAt(std::string_view text, size_t at, bool big_endian) {
  const auto a = static_cast<unsigned char>(text[at]);
  const auto b = static_cast<unsigned char>(text[at + 1]);
  return big_endian ? (a << 8) | b : a | (b << 8);
}

std::string Hex(unsigned value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
  return out;
}

// The first unit of UTF-16 `content` that does not decode (a surrogate
// without its pair, or half a unit at the end), or npos.
size_t FirstInvalidUtf16(std::string_view content, bool big_endian) {
  const size_t whole = content.size() - content.size() % 2;
  for (size_t at = 0; at < whole; at += 2) {
    const unsigned unit = UnitAt(content, at, big_endian);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return at;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (at + 2 >= whole) return at;
      const unsigned next = UnitAt(content, at + 2, big_endian);
      if (next < 0xDC00 || next > 0xDFFF) return at;
      at += 2;
    }
  }
  return whole < content.size() ? whole : std::string_view::npos;
}

}  // namespace

Error InvalidTextError(const TextFault& f) {
  // Lines end at CR LF, LF or CR, counted in the file's units.
  const bool wide = f.unit == 2;
  auto unit_at = [&](size_t at) -> unsigned {
    return wide ? UnitAt(f.text, at, f.big_endian) : static_cast<unsigned char>(f.text[at]);
  };
  size_t line = 1;
  for (size_t at = 0; at + f.unit <= f.bad; at += f.unit) {
    const unsigned c = unit_at(at);
    if (c == '\n' || (c == '\r' && (at + 2 * f.unit > f.bad || unit_at(at + f.unit) != '\n')))
      ++line;
  }
  std::string what;
  if (f.bad + f.unit > f.text.size())
    what = "half a character at the end of the file";
  else if (wide)
    what = "unit " + Hex(unit_at(f.bad), 4) + " without its pair";
  else
    what = "byte " + Hex(unit_at(f.bad), 2);
  return Exception(Concat({"File \"", AbsolutePath(f.path), "\" is not valid ", f.encoding,
                           ": line ", std::to_string(line), ", byte offset ",
                           std::to_string(f.start + f.bad), " (", what, "). ", f.fix}));
}

std::string UnmarkedTextEncoding() {
  if (AnsiIsUtf8()) return "UTF-8";
  return "UTF-8 or " + AnsiCodePage() + " (ansi_codepage in settings.ini)";
}

std::string UnmarkedTextFix() {
  if (AnsiIsUtf8())
    return "Save it as UTF-8, or name the code page it is written in with ansi_codepage in "
           "section [Ostrevane] of settings.ini (for example ansi_codepage=CP1252).";
  return "Save it as UTF-8, or set ansi_codepage in section [Ostrevane] of settings.ini to the "
         "code page it is written in.";
}

std::string DecodeFileContent(std::string_view content, TextEncoding encoding,
                              size_t mark_length, const std::string& path) {
  TextFault fault;
  fault.path = path;
  fault.text = content;
  fault.start = mark_length;
  switch (encoding) {
    case TextEncoding::kAnsi: {
      // Valid UTF-8 is UTF-8 whatever the code page: text in an 8-bit code
      // page that has letters beyond ASCII is almost never valid UTF-8, and
      // a file saved as UTF-8 read as CP1252 would change its letters
      // without a word.
      fault.bad = FirstInvalidUtf8(content);
      if (fault.bad == std::string_view::npos) return std::string(content);
      if (!AnsiIsUtf8()) {
        std::string text;
        fault.bad = AnsiToUtf8Strict(content, text);
        if (fault.bad == std::string_view::npos) return text;
      }
      fault.encoding = UnmarkedTextEncoding();
      fault.fix = UnmarkedTextFix();
      throw InvalidTextError(fault);
    }
    case TextEncoding::kUtf8:
      fault.bad = FirstInvalidUtf8(content);
      if (fault.bad == std::string_view::npos) return std::string(content);
      fault.encoding = "UTF-8 (it starts with the UTF-8 byte-order mark)";
      fault.fix = "Save it as UTF-8; a file in another code page must not start with the mark "
                  "(ansi_codepage in section [Ostrevane] of settings.ini names that code page).";
      throw InvalidTextError(fault);
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be: {
      const bool big_endian = encoding == TextEncoding::kUtf16Be;
      fault.bad = FirstInvalidUtf16(content, big_endian);
      if (fault.bad == std::string_view::npos) return DecodeText(content, encoding);
      fault.unit = 2;
      fault.big_endian = big_endian;
      fault.encoding = big_endian ? "UTF-16BE (it starts with the UTF-16BE byte-order mark)"
                                  : "UTF-16LE (it starts with the UTF-16LE byte-order mark)";
      fault.fix = "The file is damaged or cut short; save it again.";
      throw InvalidTextError(fault);
    }
  }
  return std::string(content);
}

int TryReadWholeFile(const std::string& path, std::string& bytes, bool& opened) {
  opened = false;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) return errno;
  opened = true;
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(bytes.size() + size_t(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.append(buffer, size_t(n));
  }
}

std::string ReadWholeFile(const std::string& path) {
  const std::string name = NormalizePath(path);
  std::string bytes;
  bool opened = false;
  if (const int error = TryReadWholeFile(name, bytes, opened)) {
    throw Error(kEFOpenError,
                std::string(opened && error != EISDIR ? "Cannot read" : "Cannot open") +
                    " file \"" + CutForMessage(AbsolutePath(name)) + "\". " + std::strerror(error));
  }
  return bytes;
}

std::string DecodeWholeFile(std::string_view content, const std::string& path) {
  size_t mark = 0;
  const TextEncoding encoding = DetectByteOrderMark(content, mark);
  return DecodeFileContent(content.substr(mark), encoding, mark, path);
}

std::string ReadTextFile(const std::string& path) {
  return DecodeWholeFile(ReadWholeFile(path), path);
}

}  // namespace ostrevane
