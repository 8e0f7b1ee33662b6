#include "common/text_file.h"

#include <gtest/gtest.h>

#include "common/codepage.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {
using namespace std::string_literals;

using testing::TempDir;
using testing::WriteFile;

// A text file is read in one encoding and refused, with the place of the
// first byte that does not decode, when it is not valid there: a file read
// as something else would run a different SQL text without a word.
TEST(TextFileTest, FilesAreReadInOneEncodingOrRefusedWithLineAndOffset) {
  const std::string kUtf8Fix =
      ". Save it as UTF-8, or name the code page it is written in with ansi_codepage in "
      "section [Ostrevane] of settings.ini (for example ansi_codepage=CP1252).";
  const std::string kCodePageFix =
      ". Save it as UTF-8, or set ansi_codepage in section [Ostrevane] of settings.ini to the "
      "code page it is written in.";
  const std::string kMarkedFix =
      ". Save it as UTF-8; a file in another code page must not start with the mark "
      "(ansi_codepage in section [Ostrevane] of settings.ini names that code page).";
  struct {
    const char* what;
    const char* code_page;  // ansi_codepage
    std::string content;
    std::string text;   // when read
    std::string error;  // else: the message after "File "<path>" is not valid "
  } cases[] = {
      {"UTF-8", "", "select 'caf\xC3\xA9'", "select 'caf\xC3\xA9'", ""},
      {"Latin-1 without a code page", "", "select 1\r\nfrom t\r\nwhere n = 'caf\xE9'", "",
       "UTF-8: line 3, byte offset 32 (byte 0xE9)" + kUtf8Fix},
      {"lines end at LF, CR LF and CR alike", "", "a\nb\r\nc\rd\xFF", "",
       "UTF-8: line 4, byte offset 8 (byte 0xFF)" + kUtf8Fix},
      {"a UTF-8 sequence cut short", "", "ab\xC3", "",
       "UTF-8: line 1, byte offset 2 (byte 0xC3)" + kUtf8Fix},
      {"valid UTF-8 stays UTF-8 under a code page", "CP1252", "caf\xC3\xA9", "caf\xC3\xA9", ""},
      {"the code page reads the rest", "CP1252", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC", ""},
      {"a byte the code page does not define", "CP1252", "caf\xE9\n\x81", "",
       "UTF-8 or CP1252 (ansi_codepage in settings.ini): line 2, byte offset 5 (byte 0x81)" +
           kCodePageFix},
      {"a multi-byte code page", "CP932", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC", ""},
      {"a lead byte without its trail byte", "CP932", "\x93\xFA\n\x96\x20", "",
       "UTF-8 or CP932 (ansi_codepage in settings.ini): line 2, byte offset 3 (byte 0x96)" +
           kCodePageFix},
      {"a UTF-8 mark and a Latin-1 byte", "CP1252", "\xEF\xBB\xBFx\xE9", "",
       "UTF-8 (it starts with the UTF-8 byte-order mark): line 1, byte offset 4 (byte 0xE9)" +
           kMarkedFix},
      {"UTF-16LE", "", "\xFF\xFEq\0\n\0\xE9\0"s, "q\n\xC3\xA9", ""},
      {"UTF-16BE with a surrogate pair", "", "\xFE\xFF\xD8\x3D\xDE\x00"s,
       "\xF0\x9F\x98\x80", ""},
      {"UTF-16LE cut in half a character", "", "\xFF\xFEq\0\r\0\n\0r"s, "",
       "UTF-16LE (it starts with the UTF-16LE byte-order mark): line 2, byte offset 8 (half a "
       "character at the end of the file). The file is damaged or cut short; save it again."},
      {"UTF-16BE with a lone surrogate", "", "\xFE\xFF\0a\xDC\x00"s, "",
       "UTF-16BE (it starts with the UTF-16BE byte-order mark): line 1, byte offset 4 (unit "
       "0xDC00 without its pair). The file is damaged or cut short; save it again."},
  };
  TempDir dir;
  const std::string path = dir / "q.sql";
  for (const auto& c : cases) {
    SetAnsiCodePage(c.code_page);
    WriteFile(path, c.content);
    try {
      EXPECT_EQ(ReadTextFile(path), c.text) << c.what;
      EXPECT_EQ(c.error, "") << c.what;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name() + ": " + e.message(),
                "Exception: File \"" + path + "\" is not valid " + c.error)
          << c.what;
    }
  }
  SetAnsiCodePage("");
}

}  // namespace
}  // namespace ostrevane
