// An INI file with the semantics of the classic profile functions: section
// and key names compared without regard to ASCII case, the first matching
// section and key win, a new key goes after the last key of its section
// (keys written one after another keep that order), a new section goes to
// the end of the file, and a key is deleted alone. Values are read with
// blanks trimmed and one pair of enclosing quotes removed, and cut at 2047
// characters (UTF-16 code units).
//
// The file is read once into memory and written back, whole and atomically,
// by Save(). Lines that were not changed are written back byte for byte, so
// comments, unknown keys, order and the file's encoding survive: a file with
// a UTF-16LE (or UTF-16BE, or UTF-8) byte-order mark keeps its mark and
// encoding; a file without a mark is UTF-8 when it is valid UTF-8 and in
// the 8-bit code page otherwise (text_error()). A UTF-8 marked file that is
// not UTF-8, or an unmarked one that is not valid in a code page other than
// UTF-8, is refused (InvalidTextError). New lines take the file's first line
// end.
// A new file is UTF-8 with "\n" line ends and mode 0600.
//
// One IniFile belongs to one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace ostrevane {

enum class IniEncoding { kUtf8, kUtf8Mark, kAnsi, kUtf16Le, kUtf16Be };

class IniFile {
 public:
  // Reads `path`. A missing file gives an empty document (existed() false).
  // Throws Exception("Unable to read <path>: <reason>") when the file exists
  // but cannot be read.
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }
  bool existed() const { return existed_; }
  IniEncoding encoding() const { return encoding_; }
  // A file without a mark that is not valid UTF-8, read while the 8-bit
  // code page was UTF-8: its lines hold replacement characters, and this
  // error says where the first bad byte is. Read again once ansi_codepage
  // names its code page (a file that is not valid there either throws).
  const std::optional<Error>& text_error() const { return text_error_; }

  // The value of the first `key` in the first `section`, or `default_value`
  // when either is absent. A present key with an empty value gives "".
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  // ReadString converted by ParseProfileInteger; `default_value` when the
  // key is absent, empty or not an integer.
  int32_t ReadInteger(std::string_view section, std::string_view key,
                      int32_t default_value) const;
  // An integer: any value but 0 is true.
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;

  // The line (counted from 1) of the first `key` of the first `section`;
  // 0 when either is absent.
  int LineOf(std::string_view section, std::string_view key) const;

  // Every line that is neither blank nor a comment, in file order.
  struct Entry {
    enum Kind { kSection, kKey, kOther };  // kOther: no "[...]" and no "="
    Kind kind = kOther;
    int line = 0;         // counted from 1
    std::string section;  // a key's section, as written; "" before the first
    std::string name;     // the section's or the key's name; kOther: the line
    std::string value;    // a key's value as ReadString gives it, uncut
  };
  std::vector<Entry> Entries() const;

  // Sets the key (creating section and key as needed). An empty value is
  // written as "key=". The value is one line: CR and LF become spaces.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes the first `key` of the first `section`; nothing else changes.
  void DeleteKey(std::string_view section, std::string_view key);

  // Writes the document to `path` atomically (an existing file keeps its
  // mode; a new one gets 0600). Throws Exception("Unable to write to <path>:
  // <reason>") and leaves the file as it was when that fails.
  void Save() const;
  // The bytes Save() writes.
  std::string Serialize() const;

 private:
  struct Line {
    std::string raw;   // bytes in the file's encoding, line end excluded
    std::string eol;   // the line end's bytes; empty for a last line without one
    std::string text;  // decoded UTF-8
  };
  enum Kind { kOther, kSection, kKey, kBlank };  // kBlank: blank or a comment
  struct Parsed {
    Kind kind = kOther;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed
  };
  static Parsed Parse(const std::string& text);

  void Decode(const std::string& bytes);
  // Throws InvalidTextError when a UTF-8 marked file is not UTF-8, or an
  // unmarked one is neither UTF-8 nor valid in another 8-bit code page;
  // sets text_error_ when it is not UTF-8 under the UTF-8 code page.
  void CheckText(std::string_view body);
  std::string Encode(std::string_view utf8) const;
  Line MakeLine(std::string text) const;
  size_t FindSection(std::string_view section) const;  // npos when absent
  size_t SectionEnd(size_t header) const;              // next header or size
  size_t FindKey(std::string_view section, std::string_view key) const;

  std::string path_;
  bool existed_ = false;
  IniEncoding encoding_ = IniEncoding::kUtf8;
  std::string mark_;         // byte-order mark bytes as found
  std::string default_eol_;  // encoded
  std::vector<Line> lines_;
  std::optional<Error> text_error_;
};

// Profile integer text: optional sign, then decimal digits or "0x"/"0X" and
// hex digits (up to 32 bits, taken as two's complement), nothing else.
// Returns false when the text is no such integer or does not fit.
bool ParseProfileInteger(std::string_view text, int32_t& value);

}  // namespace ostrevane
