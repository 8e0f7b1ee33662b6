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

// Reads the whole file `path` (taken as given) into `bytes`. Returns 0, or
// the errno of the failure; `opened` tells whether the file could be
// opened at all. A directory fails with EISDIR.
int TryReadWholeFile(const std::string& path, std::string& bytes, bool& opened);

// Whole-file read. Throws Error(kEFOpenError) "Cannot open file" or "Cannot
// read file" + the absolute name + the system's reason when it fails. "\"
// in the name is taken as "/".
std::string ReadWholeFile(const std::string& path);

// The file's text (UTF-8), decoded by its byte-order mark (without one: as
// UTF-8 when valid, else through the 8-bit code page). Errors as
// ReadWholeFile.
std::string ReadTextFile(const std::string& path);

}  // namespace ostrevane
