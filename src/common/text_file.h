// Reading text files that may carry a byte-order mark.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

enum class TextEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Recognises a byte-order mark: FF FE (UTF-16LE), FE FF (UTF-16BE) or
// EF BB BF (UTF-8); files of 0 or 1 bytes have none. Returns the encoding
// and sets `mark_length` to the number of mark bytes (0 without a mark,
// then the encoding is kAnsi).
TextEncoding DetectByteOrderMark(std::string_view bytes, size_t& mark_length);

// Decodes content (after its mark) into UTF-8 text. kAnsi content that is
// valid UTF-8 is taken as UTF-8, anything else goes through the 8-bit code
// page. An odd last byte of UTF-16 content becomes a unit whose high byte
// is 0.
std::string DecodeText(std::string_view content, TextEncoding encoding);

// Whole-file read. Throws Error(kEFOpenError, ...) naming the file when it
// cannot be opened or read. "\" in the name is taken as "/".
std::string ReadWholeFile(const std::string& path);

}  // namespace ostrevane
