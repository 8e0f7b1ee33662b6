// Text encodings of mail messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/base64.h"

namespace ostrevane::delivery {

bool IsAscii(std::string_view text);

// Header lines are folded so that none is longer than this (RFC 5322).
inline constexpr size_t kHeaderLineLength = 78;
// The longest encoded word RFC 2047 allows.
inline constexpr size_t kEncodedWordLength = 75;

// A text as RFC 2047 encoded words ("=?UTF-8?B?...?=", never splitting a
// UTF-8 character): the first at most `first_length` characters long (but
// at least one character of text), the others at most `length`. CR and LF
// become spaces, so a value cannot start a new header.
std::vector<std::string> EncodedWords(std::string_view utf8,
                                      size_t first_length = kEncodedWordLength,
                                      size_t length = kEncodedWordLength);

// "Name: " and the words joined by single spaces, folded (CR LF before the
// space) before a word that would take the line past 78 characters. A word
// is never cut, so only a word longer than a line makes a longer line. An
// empty word adds its space without a fold (a line of blanks is not allowed).
std::string FoldedHeader(std::string_view name, const std::vector<std::string>& words);

// An unstructured header such as Subject: ASCII text is folded at its
// spaces and reads back unchanged; text outside ASCII, or text that would
// be misread (an "=?" that looks like an encoded word, a word longer than
// a line, a control character, blanks at its start or end, which readers
// drop), is sent as encoded words whose first fits the line after "Name: ".
std::string UnstructuredHeader(std::string_view name, std::string_view utf8);

// The parameter `name` of a MIME header in the RFC 2231 form, when `value`
// is not plain ASCII: `name*=UTF-8''%XX...`, or continued as `name*0*=`,
// `name*1*=` ... over several parts of at most `part_length` characters,
// so that each fits a folded line. Plain values stay `name="value"`. Each
// returned item is one "name=value" to be joined with "; ".
std::vector<std::string> MimeParameter(std::string_view name, std::string_view utf8_value);

// An ASCII stand-in for a file name (for readers that do not understand
// RFC 2231): every character outside printable ASCII, and '"', '\', is "_",
// and no "=?" is left to be read as an encoded word.
std::string AsciiFileName(std::string_view utf8);

// The date of a message in the form "Tue, 01 Jul 2003 10:52:37 +0200", in
// local time, English names whatever the locale.
std::string MailDate(long long unix_time);

}  // namespace ostrevane::delivery
