// Names compared without regard to case: field, parameter and placeholder
// names, macros in templates, option, section and key names. Two names are
// the same when their Unicode simple case foldings are: every code point
// folds to one code point ("ÄPFEL" = "äpfel", "Σ" = "σ" = "ς", the Kelvin
// sign = "k"), so a name never grows into several characters (ß stays ß,
// and İ stays İ, which matches neither "i" nor "I"). Bytes that are not
// UTF-8 compare exactly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrevane {

// The simple case folding of one code point.
char32_t FoldCase(char32_t c);
// Every code point of a UTF-8 text folded; bytes that are not UTF-8 kept.
std::string FoldCase(std::string_view utf8);

// Whether two texts are the same name.
bool NamesEqual(std::string_view a, std::string_view b);

// The first place at or after byte `from` where `hay` holds `needle`
// without regard to case, starting and ending on character boundaries.
// `size` is the length in bytes of the match in `hay`, which can differ
// from the needle's ("K" written as the Kelvin sign is three bytes).
struct NameMatch {
  size_t pos = std::string_view::npos;
  size_t size = 0;
  explicit operator bool() const { return pos != std::string_view::npos; }
};
NameMatch FindName(std::string_view hay, std::string_view needle, size_t from = 0);

}  // namespace ostrevane
