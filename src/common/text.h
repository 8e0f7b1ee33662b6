// Text helpers. Texts are UTF-8 std::string inside the program; UTF-16 is
// used only where bytes are fixed (log files, UTF-16 CSV, UTF-16 input).
// Delimiters, quotes and trimming are ASCII, so byte positions in UTF-8 give
// the same results as code-unit positions would.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// Removes every character with a code of 32 or less from both ends.
std::string Trim(std::string_view s);
bool IsBlank(std::string_view s);

// Names compared without regard to case, by Unicode simple case folding
// (common/case_fold.h).
bool IEquals(std::string_view a, std::string_view b);
// Keywords of fixed byte length ("AM/PM", "ftp://"): ASCII letters without
// regard to case, other bytes exactly, so that a match is prefix.size() long.
bool IStartsWith(std::string_view s, std::string_view prefix);
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char ToUpperAscii(char c);
std::string ToUpperAscii(std::string_view s);
std::string ToLowerAscii(std::string_view s);
// Position of `needle` in `hay` at or after `from`, without regard to case
// as IEquals; npos when absent. An empty needle is never found. The match
// may be longer or shorter in bytes than the needle (the Kelvin sign
// matches "k"): `match_size`, when given, receives its length.
size_t IFind(std::string_view hay, std::string_view needle, size_t from = 0,
             size_t* match_size = nullptr);

// Replaces every occurrence, left to right, without rescanning replacements.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
// The parts one after the other, in a text sized once. Used for texts that
// begin with a literal: GCC 12 at -O3 reports false -Wrestrict overlaps in
// the inlined code of a literal + std::string chain.
std::string Concat(std::initializer_list<std::string_view> parts);
std::string ReplaceAllIgnoreCase(std::string_view s, std::string_view from,
                                 std::string_view to);

// Lines split at CR LF, CR or LF. A final line end does not start an empty
// line; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view s);

// UTF-8 validity and conversion. Invalid UTF-8 input bytes, and unpaired
// surrogates, become U+FFFD.
bool IsValidUtf8(std::string_view s);
// The offset of the first byte of the first invalid UTF-8 sequence, or npos.
size_t FirstInvalidUtf8(std::string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
// Utf16ToUtf8 into `out`, whose capacity is reused: for readers that fill
// the same value row after row.
void AssignUtf16AsUtf8(std::string& out, std::u16string_view s);
// `s` into `out` with invalid sequences replaced by U+FFFD (capacity reused).
void AssignSanitizedUtf8(std::string& out, std::string_view s);
// Appends the UTF-8 bytes of one code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t code_point);
// Appends the UTF-16LE bytes of a UTF-8 text.
void AppendUtf16Le(std::string& out, std::string_view utf8);
// Replaces invalid UTF-8 sequences by U+FFFD.
std::string SanitizeUtf8(std::string_view s);

// The text with every control character shown visibly: C0 controls and
// DEL as "\r", "\n", "\t", otherwise "\x" and two hex digits; the C1
// controls, the Unicode line and paragraph separators and the bidirectional
// controls (U+0085, U+2028, U+202E, ...) as "\u" and four hex digits; a
// byte that is no part of valid UTF-8 as "\x" and two hex digits. Text from
// data, files or servers passes through this on its way into a log, error
// or console line, so that one entry stays one line, reads in its order and
// none can be forged.
std::string ShowControlCharacters(std::string_view s);

// Values quoted in a message (a path, an option, a field value) are cut to
// this many bytes; a whole line of the console, the log or RESULT.json to
// kMessageLineLimit. A value from data may be huge; its message must not be.
inline constexpr size_t kQuotedValueLimit = 1024;
inline constexpr size_t kMessageLineLimit = 16 * 1024;

// `value` itself when it holds at most `limit` bytes; otherwise its first
// and last limit/2 bytes (whole UTF-8 characters) with the mark
// "[... N bytes cut ...]" between them, so the reader sees that, and how
// much, was left out, and still sees the end (a path's file name, a
// server's reason).
std::string CutForMessage(std::string_view value, size_t limit = kQuotedValueLimit);

}  // namespace ostrevane
