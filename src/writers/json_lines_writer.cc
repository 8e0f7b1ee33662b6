#include "writers/json_lines_writer.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "common/base64.h"
#include "common/error.h"
#include "common/json_writer.h"
#include "common/text.h"
#include "data/dataset.h"
#include "writers/datetime_format.h"
#include "writers/number_text.h"
#include "writers/output_files.h"
#include "writers/record_files.h"
#include "writers/unique_names.h"

namespace ostrevane {
namespace {

// What a field's values are written as; the value's own kind decides
// first (an integer is a number wherever it comes from), the field's type
// where the value leaves a choice (text from a dynamically typed column, a
// date-time's form).
enum class Form : uint8_t { kText, kNumber, kBoolean, kDate, kTime, kDateTime };

Form FormOf(FieldType type) {
  using enum FieldType;
  switch (type) {
    case kSmallint: case kInteger: case kWord: case kFloat: case kCurrency: case kBCD:
    case kAutoInc: case kLargeint: case kFMTBcd: case kLongWord: case kShortint: case kByte:
    case kExtended: case kSingle:
      return Form::kNumber;
    case kBoolean: return Form::kBoolean;
    case kDate: return Form::kDate;
    case kTime: return Form::kTime;
    case kDateTime: case kTimeStamp: case kOraTimeStamp: case kTimeStampOffset:
      return Form::kDateTime;
    default: return Form::kText;
  }
}

struct Column {
  const Field* field;
  std::string key;  // `{"name":` for the first column, `,"name":` for the others
  Form form;
};

std::vector<Column> BuildColumns(Query& query) {
  std::vector<std::string> names;
  for (size_t i = 0; i < query.FieldCount(); ++i) names.push_back(query.FieldAt(i).name());
  NumberRepeatedNames(names);
  std::vector<Column> columns;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string key(1, i == 0 ? '{' : ',');
    AppendJsonString(key, names[i]);
    key += ':';
    const Field& field = query.FieldAt(i);
    columns.push_back({&field, std::move(key), FormOf(field.type())});
  }
  return columns;
}

// Whether `text` is a number as JSON writes one.
bool IsJsonNumber(std::string_view text) {
  size_t i = 0;
  auto digits = [&] {
    const size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && text[i] == '-') ++i;
  const size_t from = i;
  const size_t whole = digits();
  if (whole == 0 || (whole > 1 && text[from] == '0')) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (digits() == 0) return false;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

bool IsNonFiniteText(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  return IEquals(text, "nan") || IEquals(text, "inf") || IEquals(text, "infinity");
}

// Exact decimal digits as a JSON number; a text that is no number is
// written as a string, one that names NaN or an infinity as null.
void AppendExactNumber(std::string& out, std::string_view digits) {
  const size_t start = out.size();
  AppendDecimalText(out, Trim(digits), '.');
  if (IsJsonNumber(std::string_view(out).substr(start))) return;
  out.resize(start);
  if (IsNonFiniteText(Trim(digits)))
    out += "null";
  else
    AppendJsonString(out, digits);
}

void AppendFloating(std::string& out, double d, bool single) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[40];
  // A 32-bit value reads back from the shortest text of its own width.
  const auto r = single ? std::to_chars(buf, buf + sizeof buf, float(d))
                        : std::to_chars(buf, buf + sizeof buf, d);
  out.append(buf, r.ptr);
}

void AppendValue(std::string& out, const Value& v, Form form) {
  switch (v.kind) {
    case ValueKind::kNull:
      out += "null";
      return;
    case ValueKind::kBoolean:
      out += v.i != 0 ? "true" : "false";
      return;
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64:
      if (form == Form::kBoolean)
        out += v.i != 0 ? "true" : "false";
      else
        AppendInt(out, v.i);
      return;
    case ValueKind::kSingle:
    case ValueKind::kDouble:
      if (form == Form::kBoolean && !std::isnan(v.d))
        out += v.d != 0 ? "true" : "false";
      else
        AppendFloating(out, v.d, v.kind == ValueKind::kSingle);
      return;
    case ValueKind::kCurrency: {
      std::string digits;
      AppendCurrencyDigits(digits, v.i);
      AppendDecimalText(out, digits, '.');
      return;
    }
    case ValueKind::kDecimal:
      AppendExactNumber(out, v.s);
      return;
    case ValueKind::kDateTime:
      out += '"';
      AppendIsoDateTime(out, v.d,
                        form == Form::kDate   ? IsoForm::kDate
                        : form == Form::kTime ? IsoForm::kTime
                                              : IsoForm::kDateTime,
                        true);
      out += '"';
      return;
    case ValueKind::kText:
      // A dynamically typed column may deliver its numbers and Booleans as
      // text.
      if (form == Form::kNumber && IsJsonNumber(Trim(v.s))) {
        AppendExactNumber(out, v.s);
        return;
      }
      if (form == Form::kBoolean && (IEquals(Trim(v.s), "true") || IEquals(Trim(v.s), "false"))) {
        out += IEquals(Trim(v.s), "true") ? "true" : "false";
        return;
      }
      AppendJsonString(out, v.s);
      return;
    case ValueKind::kGuid:
      AppendJsonString(out, v.s);
      return;
    case ValueKind::kBytes:
      out += '"';
      AppendBase64(out, v.s);
      out += '"';
      return;
  }
}

// Lines are written in chunks of about this size.
constexpr size_t kChunk = size_t{1} << 20;
constexpr size_t kFileBuffer = size_t{64} << 10;

}  // namespace

void WriteJsonFiles(Job& job, Query& query, const FormatSettings& formats,
                    const std::string& joiner, FileBatch* batch) {
  query.First();
  if (query.Eof() && job.if_empty != IfEmpty::kDeliver) return;
  const std::vector<Column> columns = BuildColumns(query);
  RecordFiles files(job, job.json_path, query, formats, joiner, batch, "", kFileBuffer,
                    &job.json_files);
  std::string pending;
  pending.reserve(kChunk + (size_t{64} << 10));
  const RecordFiles::Flush flush = [&](OutputFile& file) {
    file.Write(pending);
    pending.clear();
  };

  try {
    while (!query.Eof()) {
      OutputFile& file = files.FileFor(query, flush);
      if (columns.empty()) pending += '{';
      for (const Column& column : columns) {
        pending += column.key;
        AppendValue(pending, column.field->value(), column.form);
      }
      pending += "}\n";
      if (pending.size() >= kChunk) flush(file);
      query.Next();
    }
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
