#include "writers/csv_writer.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/codepage.h"
#include "common/error.h"
#include "common/text.h"
#include "data/dataset.h"
#include "writers/output_files.h"
#include "writers/record_files.h"
#include "writers/value_text.h"

namespace ostrevane {
namespace {

struct Column {
  const Field* field;
  DateTimePattern format;  // the pattern of the column's date-time values
};

std::vector<Column> BuildColumns(const Job& job, Query& query, const FormatSettings& formats,
                                 const std::string& joiner) {
  std::vector<Column> columns;
  if (job.csv_fields.empty()) {
    const std::string format = DefaultDateTimeFormat(formats, joiner);
    for (size_t i = 0; i < query.FieldCount(); ++i)
      columns.push_back({&query.FieldAt(i), DateTimePattern(format, formats)});
  } else {
    // Entries that name no field are skipped without a message.
    for (const NameValue& entry : job.csv_fields)
      if (const Field* f = query.FindField(entry.name))
        columns.push_back({f, DateTimePattern(entry.value, formats)});
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

// Rows are written in chunks of this size, straight from the row text.
constexpr size_t kChunk = size_t{1} << 20;
constexpr size_t kFileBuffer = size_t{64} << 10;

// Whether no byte has its high bit set, eight bytes at a time: this runs
// over every cell and row of an 8-bit file in another code page.
bool IsAscii(std::string_view s) {
  uint64_t bits = 0;
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    bits |= word;
  }
  for (; i < s.size(); ++i) bits |= static_cast<unsigned char>(s[i]);
  return (bits & 0x8080808080808080ULL) == 0;
}

// Text (UTF-8) as a file in the 8-bit code page will show it: each
// character itself, or "?" where the code page has no such character.
// UTF-16 and UTF-8 files hold every character.
std::string AsWritten(const std::string& text, bool utf16) {
  if (utf16 || AnsiIsUtf8() || IsAscii(text)) return text;
  return AnsiToUtf8(Utf8ToAnsi(text));
}

// The cells of a row (UTF-8) for an 8-bit file in a code page other than
// UTF-8. A character the code page lacks becomes "?", which may be the
// separator or the quote: a cell outside ASCII is quoted by its text as the
// file will show it. (Kept out of line: the rows of the other files are
// made in a loop of their own, which this would slow down.)
[[gnu::noinline]] void AppendCellsAsShown(std::string& row, AnsiConverter& ansi,
                                          const std::vector<Column>& columns,
                                          const FormatSettings& formats,
                                          const std::string& separator, const std::string& quote) {
  for (size_t k = 0; k < columns.size(); ++k) {
    const size_t start = row.size();
    const Value& value = columns[k].field->value();
    AppendValueText(row, value, columns[k].format, formats, separator, quote, true);
    if (!IsAscii(std::string_view(row).substr(start))) {
      row.resize(start);
      AppendValueText(row, value, columns[k].format, formats, separator, quote, false);
      const std::string shown = ansi.ToUtf8(ansi.ToAnsi(std::string_view(row).substr(start)));
      row.replace(start, std::string::npos, shown);
      QuoteCellText(row, start, separator, quote);
    }
    if (k + 1 < columns.size()) row += separator;
  }
}

// The line end of the job's files.
std::string_view LineEnd(const Job& job) {
  return job.csv_code_page == 1 ? std::string_view("\r\0\n\0", 4) : "\r\n";
}

// The start of every file: the mark of a UTF-16 file, the header line.
std::string FileStart(const Job& job, const std::vector<Column>& columns) {
  const bool utf16 = job.csv_code_page == 1;
  std::string start = utf16 ? "\xFF\xFE" : "";
  if (job.csv_header != Switch::kOn) return start;
  const std::string separator = AsWritten(job.csv_separator, utf16);
  const std::string quote = AsWritten(job.csv_quote, utf16);
  // The names are cells like any text value: quoted by their text as the
  // file shows it, an empty name alone on the line as two quotes.
  std::string line;
  for (size_t k = 0; k < columns.size(); ++k) {
    const size_t cell = line.size();
    line += AsWritten(columns[k].field->name(), utf16);
    QuoteCellText(line, cell, separator, quote);
    if (k + 1 < columns.size()) line += separator;
  }
  if (columns.size() == 1 && line.empty()) line = quote + quote;
  if (utf16)
    AppendRowUtf16(start, line);
  else if (!AnsiIsUtf8())
    start += Utf8ToAnsi(line);
  else
    start += line;
  return start;
}

}  // namespace

std::string CsvFileStart(const Job& job, Query& query, const FormatSettings& formats,
                         const std::string& joiner) {
  return FileStart(job, BuildColumns(job, query, formats, joiner));
}

void WriteCsvFiles(Job& job, Query& query, const FormatSettings& formats,
                   const std::string& joiner, FileBatch* batch) {
  job.written_files.clear();
  job.written_digests.clear();
  const std::vector<Column> columns = BuildColumns(job, query, formats, joiner);
  const bool utf16 = job.csv_code_page == 1;
  // The separator and the quote as the file will hold them, so that a value
  // is quoted exactly when it holds what the reader takes for one.
  const std::string separator = AsWritten(job.csv_separator, utf16);
  const std::string quote = AsWritten(job.csv_quote, utf16);
  // Most separators are one byte: appended as a character in the row loop.
  const bool one_byte_separator = separator.size() == 1;
  const char separator_byte = one_byte_separator ? separator[0] : '\0';
  const std::string_view line_end = LineEnd(job);
  // What a new file begins with; the first row follows on a line of its own.
  std::string file_start = FileStart(job, columns);
  if (job.csv_header == Switch::kOn) file_start += line_end;

  RecordFiles files(job, job.csv_path, query, formats, joiner, batch, std::move(file_start),
                    kFileBuffer);
  // Rows are collected in `pending` and written a chunk at a time; `done`
  // marks the end of the last complete row (and its line end).
  std::string pending;
  pending.reserve(kChunk + (size_t{64} << 10));
  size_t done = 0;
  // With UTF-8 files the cells go straight into `pending`; otherwise the
  // row is made in `row` and converted.
  const bool direct = !utf16 && AnsiIsUtf8();
  // 8-bit files in another code page: quoted as they will show.
  const bool converted = !utf16 && !direct;
  std::string row;
  AnsiConverter ansi;
  const bool one_column = columns.size() == 1;
  // The complete rows go to the file; a row being made stays.
  const RecordFiles::Flush flush = [&](OutputFile& file) {
    file.Write(std::string_view(pending).substr(0, done));
    pending.erase(0, done);
    done = 0;
  };

  try {
    while (!query.Eof()) {
      OutputFile& file = files.FileFor(query, flush);
      std::string& cells = direct ? pending : row;
      if (!direct) row.clear();
      if (converted) {
        AppendCellsAsShown(row, ansi, columns, formats, separator, quote);
      } else {
        for (size_t k = 0; k < columns.size(); ++k) {
          AppendValueText(cells, columns[k].field->value(), columns[k].format, formats, separator,
                          quote, true);
          if (k + 1 < columns.size()) {
            if (one_byte_separator)
              cells += separator_byte;
            else
              cells += separator;
          }
        }
      }
      // One empty value would make an empty line, which readers take for no
      // row at all: it is written as two quotes. (The row began at `done`
      // in `pending`, at 0 in `row`.)
      if (one_column && cells.size() == (direct ? done : 0)) {
        cells += quote;
        cells += quote;
      }
      if (utf16)
        AppendRowUtf16(pending, row);
      else if (!direct)
        pending += IsAscii(row) ? row : ansi.ToAnsi(row);

      query.Next();
      if (!query.Eof()) pending += line_end;
      done = pending.size();
      if (done >= kChunk) flush(file);
    }
    // No record (the loop wrote nothing): -ifempty:deliver still gives
    // the one file its template names.
    files.BeginEmptyResultFile(job.if_empty);
    files.Commit(flush);
  } catch (const Error& e) {
    // Nothing of this call keeps its final name: the temporary files go
    // with `files`.
    if (files.writing()) throw NamingFile(e, *files.writing());
    throw;
  }
}

}  // namespace ostrevane
