// One data row of a COPY ... TO STDOUT stream in text format, split into
// its fields and unescaped. The server writes a row as fields separated by
// tabs and ended by a newline; NULL is the bare field \N, and a backslash
// escapes control characters (\b \f \n \r \t \v), itself, octal bytes
// (\d, \dd, \ddd) and hex bytes (\xH, \xHH); any other escaped character
// stands for itself. A field's decoded text is the same text the server
// would send for the value in a text-format result.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

class PgCopyRow {
 public:
  // Splits `line` (with or without its closing newline). Returns false when
  // the row does not hold exactly `columns` fields. The views returned by
  // Text() point into `line` or into this object and stay valid until the
  // next Parse() or until `line` is freed, whichever comes first.
  bool Parse(std::string_view line, size_t columns);

  size_t size() const { return fields_.size(); }
  bool IsNull(size_t c) const { return fields_[c].null; }
  std::string_view Text(size_t c) const { return fields_[c].text; }

 private:
  struct Field {
    std::string_view text;
    bool null = false;
  };
  std::string_view Unescape(std::string_view raw);

  std::vector<Field> fields_;
  std::string decoded_;  // unescaped texts; reserved per row, never reallocated mid-row
};

}  // namespace ostrevane
