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
  file.bytes = ReadWholeFile(path);
  size_t mark = 0;
  file.encoding = DetectByteOrderMark(file.bytes, mark);
  file.bytes.erase(0, mark);
  return file;
}

std::string DecodeTextFile(const FileBytes& file) { return DecodeText(file.bytes, file.encoding); }

std::string DataLinkToConnectionString(std::string_view text) {
  std::string s = ReplaceAll(text, "[oledb]", "");
  s = ReplaceAll(s, "; Everything after this line is an OLE DB initstring", "");
  return Trim(s);
}

}  // namespace ostrevane
