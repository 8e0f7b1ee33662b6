// Base64 (RFC 4648, with "=" padding): mail bodies and attachments, and
// binary values in the XML files.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

// Base64 of `bytes`; with `line_length` > 0 the output is cut into lines of
// that many characters, each ended by CR LF.
std::string Base64(std::string_view bytes, size_t line_length = 0);

// The same without line breaks, appended to `out`.
void AppendBase64(std::string& out, std::string_view bytes);

}  // namespace ostrevane
