#include "delivery/report.h"

#include <map>
#include <mustache.hpp>
#include <vector>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "common/text_file.h"
#include "data/dataset.h"
#include "writers/value_text.h"

namespace ostrevane::delivery {
namespace {

namespace mstch = kainjow::mustache;

// The template engine's lookup, with one addition: a name that is not found
// as written is looked up again without regard to case, so {{customer_id}}
// finds the field CUSTOMER_ID. The engine calls push/pop around sections.
class ReportContext : public mstch::context<std::string> {
 public:
  ReportContext(const mstch::data* root, std::map<std::string, std::string> folded)
      : mstch::context<std::string>(root), folded_(std::move(folded)) {
    stack_.push_back(root);
  }
  void push(const mstch::data* data) override {
    mstch::context<std::string>::push(data);
    stack_.push_back(data);
  }
  void pop() override {
    mstch::context<std::string>::pop();
    stack_.pop_back();
  }
  const mstch::data* get(const std::string& name) const override {
    if (const mstch::data* d = mstch::context<std::string>::get(name)) return d;
    auto it = folded_.find(ToLowerAscii(name));
    for (auto s = stack_.rbegin(); s != stack_.rend(); ++s) {
      // A field name that holds a dot is a plain name here, not a path.
      if (const mstch::data* d = (*s)->get(name)) return d;
      if (it != folded_.end())
        if (const mstch::data* d = (*s)->get(it->second)) return d;
    }
    return nullptr;
  }

 private:
  std::vector<const mstch::data*> stack_;
  std::map<std::string, std::string> folded_;  // lower case -> name as given
};

std::string ReadTemplate(const std::string& path) {
  const std::string bytes = ReadWholeFile(path);
  size_t mark = 0;
  const TextEncoding enc = DetectByteOrderMark(bytes, mark);
  return DecodeText(std::string_view(bytes).substr(mark), enc);
}

std::string CellText(const Value& v, const std::string& datetime_format,
                     const FormatSettings& formats) {
  if (v.kind == ValueKind::kBytes) return "";
  return FormatValue(v, datetime_format, formats, "", "", false);
}

}  // namespace

std::string WrapReportBody(const std::string& body) {
  return "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
         "<title></title>\r\n</head>\r\n<body>\r\n" +
         body + (body.empty() || body.back() == '\n' ? "" : "\r\n") + "</body>\r\n</html>\r\n";
}

std::string RenderReport(const std::string& template_path, Query& query,
                         const FormatSettings& formats) {
  const std::string path = NormalizePath(template_path);
  if (!FileExists(path) || DirectoryExists(path)) return WrapReportBody("");
  mstch::mustache tmpl(ReadTemplate(path));
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());

  std::map<std::string, std::string> folded;
  mstch::data names{mstch::data::type::list};
  mstch::data records{mstch::data::type::list};
  if (query.active()) {
    for (size_t i = 0; i < query.FieldCount(); ++i) {
      const std::string& name = query.FieldAt(i).name();
      folded.emplace(ToLowerAscii(name), name);
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
        std::string text = CellText(f.value(), datetime_format, formats);
        mstch::data field{mstch::data::type::object};
        field.set("name", f.name());
        field.set("value", text);
        fields.push_back(field);
        // The first of two fields with one name wins, as in a name lookup.
        if (!record.get(f.name())) record.set(f.name(), text);
      }
      record.set("frFields", fields);
      record.set("frRecNo", std::to_string(++number));
      records.push_back(record);
    }
  }
  // Field names come first: a field "Name" is found as {{name}} too.
  for (const char* builtin : {"frDataSet", "frFields", "frRecNo", "name", "value"})
    folded.emplace(ToLowerAscii(builtin), builtin);
  mstch::data root{mstch::data::type::object};
  root.set("frFields", names);
  root.set("frDataSet", records);

  ReportContext context(&root, std::move(folded));
  std::string out = tmpl.render(context);
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());
  if (IFind(out, "<html") == std::string::npos) out = WrapReportBody(out);
  return out;
}

}  // namespace ostrevane::delivery
