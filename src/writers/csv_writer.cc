#include "writers/csv_writer.h"

#include <optional>
#include <unordered_set>
#include <vector>

#include "common/codepage.h"
#include "common/path.h"
#include "common/text.h"
#include "workers/dataset.h"
#include "writers/name_template.h"
#include "writers/output_files.h"
#include "writers/value_text.h"

namespace ostrevane {
namespace {

struct Column {
  const Field* field;
  std::string format;  // date-time pattern of the column's date-time values
};

std::vector<Column> BuildColumns(const tRec& job, Query& query, const TFormatSettings& fs,
                                 const std::string& joiner) {
  std::vector<Column> columns;
  if (job.fields.empty()) {
    const std::string format = DefaultDateTimeFormat(fs, joiner);
    for (size_t i = 0; i < query.FieldCount(); ++i) columns.push_back({&query.FieldAt(i), format});
  } else {
    // Entries that name no field are skipped without a message.
    for (const tParamRec& entry : job.fields)
      if (const Field* f = query.FindField(entry.name)) columns.push_back({f, entry.value});
  }
  return columns;
}

// Appends the UTF-16LE bytes of a UTF-8 row: ASCII by a tight loop, the
// rest (from the first other byte on) by the general conversion.
void AppendRowUtf16(std::string& out, std::string_view row) {
  const size_t base = out.size();
  out.resize(base + 2 * row.size());
  char* p = out.data() + base;
  size_t i = 0;
  for (; i < row.size(); ++i) {
    const char c = row[i];
    if (static_cast<unsigned char>(c) >= 0x80) break;
    *p++ = c;
    *p++ = '\0';
  }
  out.resize(size_t(p - out.data()));
  if (i < row.size()) AppendUtf16Le(out, row.substr(i));
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

void WriteCsv(tRec& job, Query& query, const TFormatSettings& fs, const std::string& joiner) {
  job.attach.clear();
  const std::vector<Column> columns = BuildColumns(job, query, fs, joiner);
  const bool utf16 = job.csvcp == 1;
  const bool has_separator = !job.csvsep.empty();
  const char separator = has_separator ? job.csvsep[0] : '\0';
  const std::string_view line_end = utf16 ? std::string_view("\r\0\n\0", 4) : "\r\n";

  NameTemplate names(job, job.csv, query, fs, joiner);
  std::optional<OutputFile> file;
  std::string open_name;
  // Files created by this call, by the path the file system sees. A name
  // that comes back continues its file instead of replacing it.
  std::unordered_set<std::string> created;
  std::string row;    // the current row as UTF-8
  std::string bytes;  // the row in the file's encoding, when that differs

  while (!query.Eof()) {
    const std::string& name = names.NameFor(query);
    if (!file || name != open_name) {
      if (file) {
        file->Close();
        file.reset();
      }
      open_name = name;
      if (created.insert(NormalizePath(name)).second) {
        job.attach.push_back(name);
        ForceFolders(FolderPart(name));  // a failure shows as the create error
        file.emplace(name, OutputFile::Mode::kCreate);
        if (utf16) file->Write("\xFF\xFE");
      } else {
        // The earlier part ends with a line end and the file has its mark.
        file.emplace(name, OutputFile::Mode::kAppend);
      }
    }

    row.clear();
    for (size_t k = 0; k < columns.size(); ++k) {
      AppendValueText(row, columns[k].field->value(), columns[k].format, fs, job.csvsep,
                      job.csvisl, true);
      if (has_separator && k + 1 < columns.size()) row += separator;
    }
    if (utf16) {
      bytes.clear();
      AppendRowUtf16(bytes, row);
      file->Write(bytes);
    } else if (AnsiIsUtf8() || IsAscii(row)) {
      file->Write(row);
    } else {
      file->Write(Utf8ToAnsi(row));
    }

    query.Next();
    if (!query.Eof()) file->Write(line_end);
  }
  if (file) file->Close();
}

}  // namespace ostrevane
