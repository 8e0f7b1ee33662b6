// The 8-bit code page ("ANSI" code page): UTF-8 unless settings.ini names
// another iconv code page in [Ostrevane] ansi_codepage. It is run state: set
// once on the main thread before any worker starts, read-only afterwards.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ostrevane {

// Selects the 8-bit code page by its iconv name ("" or "UTF-8": UTF-8).
// Throws Exception when iconv does not know the name.
void SetAnsiCodePage(const std::string& name);
const std::string& AnsiCodePage();
bool AnsiIsUtf8();

// UTF-8 text to the 8-bit code page; characters it cannot represent become
// "?". With the UTF-8 code page the text is returned unchanged.
std::string Utf8ToAnsi(std::string_view utf8);
// 8-bit code page bytes to UTF-8; undefined bytes become "?".
std::string AnsiToUtf8(std::string_view bytes);
// 8-bit code page bytes to UTF-8 into `utf8`, refusing what the code page
// does not define: returns the offset of the first byte of the first such
// sequence (a sequence cut short by the end included), or npos when every
// byte converted. With the UTF-8 code page: invalid UTF-8 is refused.
size_t AnsiToUtf8Strict(std::string_view bytes, std::string& utf8);

// The same conversions for many texts on one thread: each direction is
// opened on its first use and kept (the functions above open one per call).
class AnsiConverter {
 public:
  AnsiConverter();
  ~AnsiConverter();
  AnsiConverter(const AnsiConverter&) = delete;
  AnsiConverter& operator=(const AnsiConverter&) = delete;

  std::string ToAnsi(std::string_view utf8);   // as Utf8ToAnsi
  std::string ToUtf8(std::string_view bytes);  // as AnsiToUtf8

 private:
  class Direction;
  std::unique_ptr<Direction> to_ansi_, to_utf8_;
};

// Each byte taken as one Windows-1252 character (bytes shown as text).
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace ostrevane
