#include "control/job_files.h"

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"

namespace ostrevane {

FileBytes ReadJobFile(const std::string& path) {
  // A relative name is taken from the working directory (cron users rely on
  // cd); the message shows the absolute name that was tried.
  if (IsBlank(path)) throw Exception("no file name given");
  if (!FileExists(path))
    throw Exception("File " + CutForMessage(AbsolutePath(path)) + " does not exist");
  FileBytes file;
  file.path = path;
  file.bytes = ReadWholeFile(path);
  file.encoding = DetectByteOrderMark(file.bytes, file.mark_length);
  file.bytes.erase(0, file.mark_length);
  return file;
}

std::string DecodeTextFile(const FileBytes& file) {
  return DecodeFileContent(file.bytes, file.encoding, file.mark_length, file.path);
}

std::string DataLinkToConnectionString(std::string_view text) {
  std::string s = ReplaceAll(text, "[oledb]", "");
  s = ReplaceAll(s, "; Everything after this line is an OLE DB initstring", "");
  return Trim(s);
}

}  // namespace ostrevane
