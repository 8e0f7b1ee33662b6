// Reading the files that options name: data-link files and SQL files.
#pragma once

#include <string>
#include <string_view>

#include "common/text_file.h"

namespace ostrevane {

struct FileBytes {
  std::string bytes;  // content after the byte-order mark
  TextEncoding encoding = TextEncoding::kAnsi;
  std::string path;   // as the option named it, for messages
  size_t mark_length = 0;
};

// Raises Exception "File " + path + "does not exist" when there is no such
// file; the platform's file error when it cannot be read.
FileBytes ReadJobFile(const std::string& path);
// The file's text (UTF-8), decoded by its encoding; an error names the
// file, line and byte offset of what does not decode (DecodeFileContent).
std::string DecodeTextFile(const FileBytes& file);
// Removes "[oledb]" and the OLE DB comment line, then trims.
std::string DataLinkToConnectionString(std::string_view text);

}  // namespace ostrevane
