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

// The template engine's lookup, with one addition: a name that is not found
// as written is looked up again without regard to case, so {{customer_id}}
// finds the field CUSTOMER_ID. The engine calls push/pop around sections.
class ReportContext : public mstch::context<std::string> {
 public:
  ReportContext(const mstch::data* root, std::map<std::string, std::string> folded,
                const std::string& path, int64_t max_entries)
      : mstch::context<std::string>(root),
        folded_(std::move(folded)),
        path_(path),
        max_entries_(max_entries),
        entries_left_(max_entries) {
    stack_.push_back(root);
  }
  // Called for every visit of a section (each list element too): the count
  // bounds the work of sections nested over the records, which may render
  // nothing at all.
  void push(const mstch::data* data) override {
    if (--entries_left_ < 0)
      throw Error(kEReportError, "Report template \"" + path_ +
                                     "\": the report visits too many sections (over " +
                                     std::to_string(max_entries_) + ")");
    mstch::context<std::string>::push(data);
    stack_.push_back(data);
  }
  void pop() override {
    mstch::context<std::string>::pop();
    stack_.pop_back();
  }
  const mstch::data* get(const std::string& name) const override {
    const size_t dot = name.find('.');
    if (name == "." || dot == std::string::npos) return Find(name);
    // A path: its first name is looked up through the open sections, the
    // rest only inside what that found (the engine would try the whole
    // path in every section instead).
    if (const mstch::data* d = Find(name.substr(0, dot))) {
      for (size_t from = dot + 1; d;) {
        const size_t next = std::min(name.find('.', from), name.size());
        d = Member(*d, name.substr(from, next - from));
        if (next == name.size()) break;
        from = next + 1;
      }
      if (d) return d;
    }
    // A field name may hold a dot ("t.id" from a join): then it is one name.
    return Find(name);
  }

 private:
  // A name without path, in the innermost section that has it: as
  // written, else without regard to case. "." is the innermost value.
  const mstch::data* Find(const std::string& name) const {
    if (name == ".") return stack_.back();
    auto it = folded_.find(FoldCase(name));
    for (auto s = stack_.rbegin(); s != stack_.rend(); ++s) {
      if (const mstch::data* d = (*s)->get(name)) return d;
      if (it != folded_.end())
        if (const mstch::data* d = (*s)->get(it->second)) return d;
    }
    return nullptr;
  }
  const mstch::data* Member(const mstch::data& d, const std::string& name) const {
    if (!d.is_object()) return nullptr;
    if (const mstch::data* m = d.get(name)) return m;
    auto it = folded_.find(FoldCase(name));
    return it == folded_.end() ? nullptr : d.get(it->second);
  }

  std::vector<const mstch::data*> stack_;
  std::map<std::string, std::string> folded_;  // case folded -> name as given
  const std::string& path_;
  const int64_t max_entries_;
  int64_t entries_left_;
};

// The rendered document, failing as soon as it would grow beyond its limit.
class LimitedOutput {
 public:
  LimitedOutput(const std::string& path, size_t limit) : path_(path), limit_(limit) {}
  LimitedOutput& operator<<(const std::string& piece) {
    if (piece.size() > limit_ - text_.size())
      throw Error(kEReportError, "Report template \"" + path_ + "\": the report is larger than " +
                                     std::to_string(limit_ >> 20) + " MiB");
    text_ += piece;
    return *this;
  }
  std::string& text() { return text_; }

 private:
  const std::string& path_;
  const size_t limit_;
  std::string text_;
};


std::string CellText(const Value& v, const std::string& datetime_format,
                     const FormatSettings& formats) {
  if (v.kind == ValueKind::kBytes) return "";
  return FormatValue(v, datetime_format, formats, "", "", false);
}

}  // namespace

std::string RenderTemplate(const std::string& text, const mstch::data& root,
                           std::map<std::string, std::string> folded, const std::string& path,
                           const ReportLimits& limits) {
  if (SectionDepth(text) > limits.max_section_depth)
    throw Error(kEReportError, "Report template \"" + path +
                                   "\": sections are nested deeper than " +
                                   std::to_string(limits.max_section_depth) + " levels");
  mstch::mustache tmpl(RemoveStandaloneTagLines(text));
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());
  ReportContext context(&root, std::move(folded), path, limits.max_section_entries);
  LimitedOutput output(path, limits.max_output_bytes);
  tmpl.render(context, output);
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());
  return std::move(output.text());
}

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

  std::map<std::string, std::string> folded;
  mstch::data names{mstch::data::type::list};
  mstch::data records{mstch::data::type::list};
  if (query.active()) {
    for (size_t i = 0; i < query.FieldCount(); ++i) {
      const std::string& name = query.FieldAt(i).name();
      folded.emplace(FoldCase(name), name);
      mstch::data entry{mstch::data::type::object};
      entry.set("name", name);
      names.push_back(entry);
    }
    const std::string datetime_format = DefaultDateTimeFormat(formats);
    int64_t number = 0;
    query.First();
    for (; !query.Eof(); query.Next()) {
      mstch::data record{mstch::data::type::object};
      mstch::data fields{mstch::data::type::list};
      for (size_t i = 0; i < query.FieldCount(); ++i) {
        const Field& f = query.FieldAt(i);
        const std::string text = CellText(f.value(), datetime_format, formats);
        // A NULL and an empty text are false in a section, as an empty
        // value is in the template language: {{^note}}none{{/note}} shows.
        const bool present =
            !f.value().IsNull() && (!text.empty() || f.value().kind == ValueKind::kBytes);
        const mstch::data cell = present ? mstch::data(text) : mstch::data(false);
        mstch::data field{mstch::data::type::object};
        field.set("name", f.name());
        field.set("value", cell);
        fields.push_back(field);
        // The first of two fields with one name wins, as in a name lookup.
        if (!record.get(f.name())) record.set(f.name(), cell);
      }
      record.set("frFields", fields);
      record.set("frRecNo", std::to_string(++number));
      records.push_back(record);
    }
  }
  // Field names come first: a field "Name" is found as {{name}} too.
  for (const char* builtin : {"frDataSet", "frFields", "frRecNo", "name", "value"})
    folded.emplace(FoldCase(builtin), builtin);
  mstch::data root{mstch::data::type::object};
  root.set("frFields", names);
  root.set("frDataSet", records);

  std::string out = RenderTemplate(text, root, std::move(folded), path, limits);
  if (IFind(out, "<html") == std::string::npos) out = WrapReportBody(out);
  return out;
}

}  // namespace ostrevane::delivery
