// Internationalized domain names in their ASCII form, for mail servers
// that take only ASCII addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrevane::delivery {

// The Punycode form (RFC 3492) of a label given as UTF-8, without the
// "xn--" prefix: "bücher" -> "bcher-kva". Empty optional when the text is
// not valid UTF-8 or the result would overflow.
std::optional<std::string> Punycode(std::string_view utf8_label);

// A domain in its ASCII form: every label outside ASCII as "xn--" and its
// Punycode, after lowering its letters (simple case folding; full IDNA
// mapping and checks are the receiving server's concern). ASCII labels and
// the dots stay as they are. Empty optional when a label cannot be encoded
// or comes out longer than 63 characters.
std::optional<std::string> AsciiDomain(std::string_view utf8_domain);

}  // namespace ostrevane::delivery
