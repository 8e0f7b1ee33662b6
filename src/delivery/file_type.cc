#include "delivery/file_type.h"

#include <algorithm>
#include <cstring>
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

// The name with only its letters and digits, upper case: "Shift_JIS",
// "shift-jis" and "SHIFTJIS" are one name.
std::string Squeezed(const std::string& name) {
  std::string key;
  for (char c : name)
    if (IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
      key += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return key;
}

// Code pages whose iconv names are not the names registered for MIME, by
// their squeezed iconv names (each an alias iconv -l lists).
struct RegisteredName {
  const char* squeezed;
  const char* charset;
};
constexpr RegisteredName kRegisteredNames[] = {
    {"UTF8", "UTF-8"},           {"ASCII", "US-ASCII"},       {"USASCII", "US-ASCII"},
    {"ANSIX341968", "US-ASCII"}, {"CP874", "windows-874"},    {"WINDOWS874", "windows-874"},
    {"CP932", "Shift_JIS"},      {"MS932", "Shift_JIS"},      {"SJIS", "Shift_JIS"},
    {"SHIFTJIS", "Shift_JIS"},   {"MSKANJI", "Shift_JIS"},    {"WINDOWS31J", "Windows-31J"},
    {"CP936", "GBK"},            {"MS936", "GBK"},            {"GBK", "GBK"},
    {"CP949", "KS_C_5601-1987"}, {"UHC", "KS_C_5601-1987"},   {"CP950", "Big5"},
    {"BIG5", "Big5"},            {"BIG5HKSCS", "Big5-HKSCS"}, {"EUCJP", "EUC-JP"},
    {"EUCKR", "EUC-KR"},         {"EUCCN", "GB2312"},         {"GB2312", "GB2312"},
    {"GB18030", "GB18030"},      {"KOI8R", "KOI8-R"},         {"KOI8U", "KOI8-U"},
    {"LATIN1", "ISO-8859-1"},    {"L1", "ISO-8859-1"},        {"CP819", "ISO-8859-1"},
    {"IBM819", "ISO-8859-1"},    {"LATIN2", "ISO-8859-2"},    {"LATIN9", "ISO-8859-15"},
    {"CP437", "IBM437"},         {"IBM437", "IBM437"},        {"CP850", "IBM850"},
    {"IBM850", "IBM850"},        {"CP852", "IBM852"},         {"CP855", "IBM855"},
    {"CP857", "IBM857"},         {"CP858", "IBM00858"},       {"CP860", "IBM860"},
    {"CP861", "IBM861"},         {"CP862", "IBM862"},         {"CP863", "IBM863"},
    {"CP864", "IBM864"},         {"CP865", "IBM865"},         {"CP866", "IBM866"},
    {"CP869", "IBM869"},         {"MACINTOSH", "macintosh"},  {"MAC", "macintosh"},
    {"MACROMAN", "macintosh"},   {"TIS620", "TIS-620"},
};

// The charset name sent for the 8-bit code page: the registered name where
// iconv's differs; a name without one as iconv knows it.
std::string Charset(const std::string& code_page) {
  const std::string key = Squeezed(code_page);
  if (key.empty()) return "UTF-8";
  for (const RegisteredName& row : kRegisteredNames)
    if (key == row.squeezed) return row.charset;
  // The Windows code pages 1250 to 1258 (CP1252, WINDOWS-1252, MS1252).
  for (const char* prefix : {"CP125", "WINDOWS125", "MS125"})
    if (key.size() == std::strlen(prefix) + 1 && key.rfind(prefix, 0) == 0 &&
        IsAsciiDigit(key.back()) && key.back() != '9')
      return std::string("windows-125") + key.back();
  // ISO 8859 parts, however iconv spells them (ISO8859-1, ISO_8859-15:1998).
  const std::string upper = ToUpperAscii(code_page);
  if (upper.rfind("ISO", 0) == 0 && key.rfind("ISO8859", 0) == 0) {
    size_t part = upper.find("8859") + 4;
    if (part < upper.size() && !IsAsciiDigit(upper[part])) ++part;  // "-", "_" or " "
    size_t end = part;
    while (end < upper.size() && IsAsciiDigit(upper[end])) ++end;
    const int number =
        end > part && end - part <= 2 ? std::stoi(upper.substr(part, end - part)) : 0;
    if (number >= 1 && number <= 16 && (end == upper.size() || upper[end] == ':'))
      return "ISO-8859-" + std::to_string(number);
  }
  for (char c : code_page)  // a charset is a token; anything else is not sent
    if (!(IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
          c == '_' || c == '.' || c == ':'))
      return "unknown-8bit";
  return code_page;
}

}  // namespace

std::vector<std::string> WrittenFileTypeWords(const Job& job, const std::string& path) {
  // A compressed file is sent as what it is, never as its content with a
  // Content-Encoding: the receiver keeps the file as it was written.
  if (job.compression.method == CompressionMethod::kGzip) return {"application/gzip"};
  if (job.compression.method == CompressionMethod::kZstd) return {"application/zstd"};
  if (std::find(job.json_files.begin(), job.json_files.end(), path) != job.json_files.end())
    return {"application/jsonl"};
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
