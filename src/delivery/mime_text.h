// Text encodings of mail messages.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane::delivery {

// Base64 of `bytes`; with `line_length` > 0 the output is cut into lines of
// that many characters, each ended by CR LF.
std::string Base64(std::string_view bytes, size_t line_length = 0);

bool IsAscii(std::string_view text);

// A header value: unchanged when it is ASCII, else RFC 2047 encoded words
// ("=?UTF-8?B?...?=", each at most 75 characters, never splitting a UTF-8
// character) joined by CR LF and a space, so the header is folded. CR and
// LF in the text become spaces, so a value cannot start a new header.
std::string EncodeHeaderValue(std::string_view utf8);

// The date of a message in the form "Tue, 01 Jul 2003 10:52:37 +0200", in
// local time, English names whatever the locale.
std::string MailDate(long long unix_time);

}  // namespace ostrevane::delivery
