// Reading text files that may carry a byte-order mark.
#pragma once

#include <string>
#include <string_view>

#include "common/error.h"

namespace ostrevane {

enum class TextEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Recognises a byte-order mark: FF FE (UTF-16LE), FE FF (UTF-16BE) or
// EF BB BF (UTF-8); files of 0 or 1 bytes have none. Returns the encoding
// and sets `mark_length` to the number of mark bytes (0 without a mark,
// then the encoding is kAnsi).
TextEncoding DetectByteOrderMark(std::string_view bytes, size_t& mark_length);

// Decodes content (after its mark) into UTF-8 text, never failing: kAnsi
// content that is valid UTF-8 is taken as UTF-8, anything else goes through
// the 8-bit code page. An odd last byte of UTF-16 content becomes a unit
// whose high byte is 0. For text whose origin is known, not for files a
// user wrote (DecodeFileContent).
std::string DecodeText(std::string_view content, TextEncoding encoding);

// Decodes the content of the file `path` (its bytes after a byte-order mark
// of `mark_length` bytes that named `encoding`) into UTF-8 text, refusing
// what is not valid in the encoding it is read with: by the mark when there
// is one; without one as UTF-8, and text that is not valid UTF-8 through the
// 8-bit code page when settings.ini names one (ansi_codepage). Throws
// InvalidTextError for the first byte that does not decode.
std::string DecodeFileContent(std::string_view content, TextEncoding encoding, size_t mark_length,
                              const std::string& path);

// Where a file stops being valid text, for InvalidTextError.
struct TextFault {
  std::string path;        // the file, as the user named it
  std::string_view text;   // the file's bytes from offset `start` on
  size_t start = 0;        // offset of text[0] in the file (the mark's length)
  size_t bad = 0;          // offset in `text` of the first byte that does not decode
  size_t unit = 1;         // 2 for UTF-16
  bool big_endian = false;
  std::string encoding;    // what the bytes were read as: "UTF-8", ...
  std::string fix;         // what to do, e.g. which setting picks another code page
};

// Exception "File "<absolute path>" is not valid <encoding>: line L, byte
// offset O (...). <fix>", the offset counted from 0 at the file's first
// byte, its mark included, and the line counted from 1 at CR LF, LF or CR.
Error InvalidTextError(const TextFault& fault);

// What InvalidTextError tells about a file without a mark that is no
// valid text in the code page it is read with.
std::string UnmarkedTextEncoding();
std::string UnmarkedTextFix();

// Reads the whole file `path` (taken as given) into `bytes`. Returns 0, or
// the errno of the failure; `opened` tells whether the file could be
// opened at all. A directory fails with EISDIR.
int TryReadWholeFile(const std::string& path, std::string& bytes, bool& opened);

// Whole-file read. Throws Error(kEFOpenError) "Cannot open file" or "Cannot
// read file" + the absolute name + the system's reason when it fails. "\"
// in the name is taken as "/".
std::string ReadWholeFile(const std::string& path);

// The file's text (UTF-8), decoded by DecodeFileContent. Errors as
// ReadWholeFile and DecodeFileContent.
std::string ReadTextFile(const std::string& path);
// The same for the file's whole content (its mark included), read before.
std::string DecodeWholeFile(std::string_view content, const std::string& path);

}  // namespace ostrevane
