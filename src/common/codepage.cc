#include "common/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

std::string& CodePageName() {
  static std::string name = "UTF-8";
  return name;
}

// One iconv conversion descriptor, owned for one call.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Converts `in` with `cd`; on a character that cannot be converted,
// appends "?" and skips one input character of `skip_len(ptr, left)` bytes.
template <typename SkipLen>
std::string Convert(iconv_t cd, std::string_view in, SkipLen skip_len) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = dst - out.data();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: replace one character.
    if (dst_left == 0) {
      size_t used = dst - out.data();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
    }
    *dst++ = '?';
    --dst_left;
    size_t n = skip_len(src, src_left);
    src += n;
    src_left -= n;
  }
  out.resize(dst - out.data());
  return out;
}

size_t Utf8CharLen(const char* p, size_t left) {
  unsigned char c = static_cast<unsigned char>(*p);
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return n > left ? left : n;
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
  std::string n = Trim(name);
  if (n.empty() || IEquals(n, "UTF-8") || IEquals(n, "UTF8")) {
    CodePageName() = "UTF-8";
    return;
  }
  Iconv probe("UTF-8", n.c_str());
  if (!probe.ok()) throw Exception("Unknown code page \"" + n + "\" in ansi_codepage");
  CodePageName() = n;
}

const std::string& AnsiCodePage() { return CodePageName(); }
bool AnsiIsUtf8() { return CodePageName() == "UTF-8"; }

// One direction of conversion, opened on its first use.
class AnsiConverter::Direction {
 public:
  Direction(const char* to, const char* from) : to_(to), from_(from) {}
  iconv_t get() {
    if (!cd_) {
      cd_.emplace(to_.c_str(), from_.c_str());
      if (!cd_->ok()) throw Exception("Unknown code page: " + from_ + " -> " + to_);
    }
    return cd_->get();
  }

 private:
  std::string to_, from_;
  std::optional<Iconv> cd_;
};

AnsiConverter::AnsiConverter()
    : to_ansi_(std::make_unique<Direction>(CodePageName().c_str(), "UTF-8")),
      to_utf8_(std::make_unique<Direction>("UTF-8", CodePageName().c_str())) {}

AnsiConverter::~AnsiConverter() = default;

std::string AnsiConverter::ToAnsi(std::string_view utf8) {
  if (AnsiIsUtf8()) return std::string(utf8);
  bool ascii = true;
  for (char c : utf8)
    if (static_cast<unsigned char>(c) >= 0x80) { ascii = false; break; }
  if (ascii) return std::string(utf8);
  return Convert(to_ansi_->get(), utf8, Utf8CharLen);
}

std::string AnsiConverter::ToUtf8(std::string_view bytes) {
  if (AnsiIsUtf8()) return SanitizeUtf8(bytes);
  return Convert(to_utf8_->get(), bytes, [](const char*, size_t) { return size_t{1}; });
}

size_t AnsiToUtf8Strict(std::string_view bytes, std::string& utf8) {
  utf8.clear();
  if (AnsiIsUtf8()) {
    const size_t bad = FirstInvalidUtf8(bytes);
    if (bad == std::string_view::npos) utf8.assign(bytes);
    return bad;
  }
  Iconv cd("UTF-8", CodePageName().c_str());
  if (!cd.ok()) throw Exception("Unknown code page: " + CodePageName());
  utf8.resize(bytes.size() * 4 + 16);
  char* src = const_cast<char*>(bytes.data());
  size_t src_left = bytes.size();
  char* dst = utf8.data();
  size_t dst_left = utf8.size();
  // Four output bytes per input byte always suffice, so every failure is
  // a byte sequence that the code page does not define (or one cut short).
  if (iconv(cd.get(), &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) ||
      iconv(cd.get(), nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1)) {
    utf8.clear();
    return static_cast<size_t>(src - bytes.data());
  }
  utf8.resize(utf8.size() - dst_left);
  return std::string_view::npos;
}

std::string Utf8ToAnsi(std::string_view utf8) { return AnsiConverter().ToAnsi(utf8); }

std::string AnsiToUtf8(std::string_view bytes) { return AnsiConverter().ToUtf8(bytes); }

std::string Cp1252ToUtf8(std::string_view bytes) {
  // 0x80..0x9F of Windows-1252; the five undefined bytes map to themselves,
  // as the Windows conversion does.
  static const char16_t k80[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::u16string u;
  u.reserve(bytes.size());
  for (unsigned char c : bytes) u += (c >= 0x80 && c < 0xA0) ? k80[c - 0x80] : char16_t(c);
  return Utf16ToUtf8(u);
}

}  // namespace ostrevane
