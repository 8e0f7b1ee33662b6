#include "delivery/report.h"

#include <algorithm>
#include <map>
#include <vector>

#include "common/case_fold.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "common/text_file.h"
#include "data/dataset.h"
#include "delivery/report_engine.h"
#include "delivery/template_text.h"
#include "writers/value_text.h"

namespace ostrevane::delivery {
namespace {


std::string CellText(const Value& v, const std::string& datetime_format,
                     const FormatSettings& formats) {
  if (v.kind == ValueKind::kBytes) return "";
  return FormatValue(v, datetime_format, formats, "", "", false);
}

// The job's result as a template sees it. Records and fields are
// placeholders, one small data object each, in the lists the engine walks;
// what a template asks of them (a record's values, frFields and frRecNo, a
// field's name and value) is made from the kept rows at the lookup and lives
// only while the section that asked is open. So a report costs a
// placeholder per record beside the rows, not a data object per value.
class ResultData : public TemplateData {
 public:
  ResultData(const Query& query, const RowStore& rows, size_t record_count,
             const FormatSettings& formats)
      : rows_(rows),
        formats_(formats),
        datetime_format_(DefaultDateTimeFormat(formats)),
        row_(query.FieldCount()) {
    std::vector<mstch::data> fields;
    for (size_t i = 0; i < query.FieldCount(); ++i) {
      const std::string& name = query.FieldAt(i).name();
      names_.emplace_back(name);
      field_index_.emplace(name, i);  // the first of two fields with one name wins
      fields.emplace_back(true);
    }
    field_list_ = mstch::data(fields);
    name_list_ = mstch::data(fields);
    record_list_ = mstch::data(std::vector<mstch::data>(record_count, mstch::data(true)));
  }

  const mstch::data& root() const override { return root_; }

  const mstch::data* Member(std::span<const mstch::data* const> open, const std::string& name,
                            MadeData& made) const override {
    const mstch::data* item = open.back();
    if (item == &root_) {
      if (name == "frDataSet") return &record_list_;
      if (name == "frFields") return &name_list_;
      return nullptr;
    }
    if (const size_t record = IndexIn(record_list_, item); record != kNone) {
      // frFields and frRecNo come before a field of that name.
      if (name == "frFields") return &field_list_;
      if (name == "frRecNo") return made.Keep(mstch::data(std::to_string(record + 1)));
      const auto it = field_index_.find(name);
      return it == field_index_.end() ? nullptr : made.Keep(Cell(record, it->second));
    }
    if (const size_t field = IndexIn(name_list_, item); field != kNone)
      return name == "name" ? &names_[field] : nullptr;
    if (const size_t field = IndexIn(field_list_, item); field != kNone) {
      if (name == "name") return &names_[field];
      if (name != "value") return nullptr;
      // The field belongs to the record of the innermost record section
      // around it, whose frFields it came from.
      for (size_t level = open.size() - 1; level-- > 0;)
        if (const size_t record = IndexIn(record_list_, open[level]); record != kNone)
          return made.Keep(Cell(record, field));
    }
    return nullptr;
  }

 private:
  static constexpr size_t kNone = size_t(-1);

  // The position of `item` among the placeholders of `list`; kNone when it
  // is none of them.
  static size_t IndexIn(const mstch::data& list, const mstch::data* item) {
    const std::vector<mstch::data>& items = list.list_value();
    const std::less<const mstch::data*> before;
    if (items.empty() || before(item, items.data()) || !before(item, items.data() + items.size()))
      return kNone;
    return size_t(item - items.data());
  }

  // A value as its cell text. A NULL and an empty text are false in a
  // section, as an empty value is in the template language:
  // {{^note}}none{{/note}} shows.
  mstch::data Cell(size_t record, size_t field) const {
    if (row_index_ != record) {
      rows_.Read(record, row_);
      row_index_ = record;
    }
    const Value& v = row_[field];
    const std::string text = CellText(v, datetime_format_, formats_);
    const bool present = !v.IsNull() && (!text.empty() || v.kind == ValueKind::kBytes);
    return present ? mstch::data(text) : mstch::data(false);
  }

  const RowStore& rows_;
  const FormatSettings& formats_;
  const std::string datetime_format_;
  std::vector<mstch::data> names_;            // each field's name
  std::map<std::string, size_t> field_index_;  // name as given -> field
  const mstch::data root_{true};
  mstch::data record_list_;  // a placeholder per record
  mstch::data name_list_;    // a placeholder per field: frFields outside the records
  mstch::data field_list_;   // a placeholder per field: frFields of a record
  // The last record read from rows_; lookups are const to the engine.
  mutable size_t row_index_ = kNone;
  mutable std::vector<Value> row_;
};

[[noreturn]] void TooManyRecords(const std::string& path, int64_t limit) {
  throw Error(kEReportError, "Report template \"" + path + "\": the result has more than " +
                                 std::to_string(limit) +
                                 " records, more than a report may hold (ReportMaxRecords in "
                                 "section Mail of settings.ini)");
}

}  // namespace

std::string WrapReportBody(const std::string& body) {
  return "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
         "<title></title>\r\n</head>\r\n<body>\r\n" +
         body + (body.empty() || body.back() == '\n' ? "" : "\r\n") + "</body>\r\n</html>\r\n";
}

std::string RenderReport(const std::string& template_path, Query& query,
                         const FormatSettings& formats, const ReportLimits& limits) {
  const std::string path = NormalizePath(template_path);
  if (!FileExists(path) || DirectoryExists(path)) return WrapReportBody("");
  const std::string text = ReadTextFile(path);

  // The records are read from the rows the query keeps for its second pass;
  // a query that keeps none (read once) is kept here as it is read.
  RowStore own_rows;
  const bool kept_by_query = query.rewindable();
  const auto over_limit = [&](int64_t count) {
    return limits.max_records > 0 && count > limits.max_records;
  };
  int64_t count = query.RecordCount();
  if (count < 0 && query.active()) {
    count = 0;
    query.First();
    for (; !query.Eof(); query.Next()) {
      if (over_limit(++count)) TooManyRecords(path, limits.max_records);
      if (!kept_by_query) own_rows.Append(query.current_row());
    }
  }
  if (over_limit(count)) TooManyRecords(path, limits.max_records);
  const ResultData data(query, kept_by_query ? query.kept_rows() : own_rows, size_t(count),
                        formats);

  std::map<std::string, std::string> folded;
  for (size_t i = 0; i < query.FieldCount(); ++i)
    folded.emplace(FoldCase(query.FieldAt(i).name()), query.FieldAt(i).name());
  // Field names come first: a field "Name" is found as {{name}} too.
  for (const char* builtin : {"frDataSet", "frFields", "frRecNo", "name", "value"})
    folded.emplace(FoldCase(builtin), builtin);

  std::string out = RenderTemplate(text, data, std::move(folded), path, limits);
  if (IFind(out, "<html") == std::string::npos) out = WrapReportBody(out);
  return out;
}

}  // namespace ostrevane::delivery
