#include "delivery/file_type.h"

#include <fstream>

#include "common/codepage.h"
#include "common/text.h"

namespace ostrevane::delivery {
namespace {

// The XML writer begins every file with its declaration; a CSV file begins
// with a byte-order mark or a line of fields.
bool StartsAsXml(const std::string& path) {
  char start[5] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(start, sizeof start);
  return file.gcount() == sizeof start && std::string_view(start, sizeof start) == "<?xml";
}

// The registered charset name of the 8-bit code page where iconv's differs
// (the Windows code pages); other names as iconv knows them.
std::string Charset(const std::string& code_page) {
  const std::string upper = ToUpperAscii(code_page);
  if (upper.empty() || upper == "UTF8") return "UTF-8";
  if (upper.size() == 6 && upper.rfind("CP125", 0) == 0 && IsAsciiDigit(upper[5]))
    return "windows-" + code_page.substr(2);
  for (char c : code_page)  // a charset is a token; anything else is not sent
    if (!(IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
          c == '_' || c == '.' || c == ':'))
      return "unknown-8bit";
  return code_page;
}

}  // namespace

std::vector<std::string> WrittenFileTypeWords(const Job& job, const std::string& path) {
  if (StartsAsXml(path)) return {"application/xml"};
  if (job.csv_code_page == 1) return {"text/csv", "charset=utf-16"};
  return {"text/csv", "charset=" + Charset(AnsiCodePage())};
}

std::string WrittenFileContentType(const Job& job, const std::string& path) {
  std::string type;
  for (const std::string& word : WrittenFileTypeWords(job, path))
    type += (type.empty() ? "" : "; ") + word;
  return type;
}

}  // namespace ostrevane::delivery
