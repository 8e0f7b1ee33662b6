#include "delivery/report_engine.h"

#include <algorithm>

#include "common/case_fold.h"
#include "common/error.h"
#include "delivery/template_text.h"

namespace ostrevane::delivery {
namespace {

// The template engine's lookup, with one addition: a name that is not found
// as written is looked up again without regard to case, so {{customer_id}}
// finds the field CUSTOMER_ID. The engine calls push/pop around sections;
// each open section keeps the data made for the lookups made inside it.
class ReportContext : public mstch::basic_context<std::string> {
 public:
  ReportContext(const TemplateData& data, std::map<std::string, std::string> folded,
                const std::string& path, int64_t max_entries)
      : data_(data),
        folded_(std::move(folded)),
        path_(path),
        max_entries_(max_entries),
        entries_left_(max_entries) {
    open_.push_back(&data.root());
    made_.emplace_back();
  }
  // Called for every visit of a section (each list element too): the count
  // bounds the work of sections nested over the records, which may render
  // nothing at all.
  void push(const mstch::data* data) override {
    if (--entries_left_ < 0)
      throw Error(kEReportError, "Report template \"" + path_ +
                                     "\": the report visits too many sections (over " +
                                     std::to_string(max_entries_) + ")");
    open_.push_back(data);
    made_.emplace_back();
  }
  void pop() override {
    open_.pop_back();
    made_.pop_back();
  }
  const mstch::data* get(const std::string& name) const override {
    const size_t dot = name.find('.');
    if (name == "." || dot == std::string::npos) return Find(name);
    // A path: its first name is looked up through the open sections, the
    // rest only inside what that found (the engine would try the whole
    // path in every section instead).
    if (const mstch::data* d = Find(name.substr(0, dot))) {
      std::vector<const mstch::data*> chain = open_;
      for (size_t from = dot + 1; d;) {
        const size_t next = std::min(name.find('.', from), name.size());
        chain.push_back(d);
        d = MemberAnyCase(chain, name.substr(from, next - from));
        if (next == name.size()) break;
        from = next + 1;
      }
      if (d) return d;
    }
    // A field name may hold a dot ("t.id" from a join): then it is one name.
    return Find(name);
  }
  // A report is one template file: there are no partials to include.
  const mstch::data* get_partial(const std::string&) const override { return nullptr; }

 private:
  // A name without path, in the innermost section that has it: as
  // written, else without regard to case. "." is the innermost value.
  const mstch::data* Find(const std::string& name) const {
    if (name == ".") return open_.back();
    for (size_t level = open_.size(); level-- > 0;)
      if (const mstch::data* d =
              MemberAnyCase(std::span<const mstch::data* const>(open_.data(), level + 1), name))
        return d;
    return nullptr;
  }
  const mstch::data* MemberAnyCase(std::span<const mstch::data* const> open,
                                   const std::string& name) const {
    MadeData& made = made_.back();
    if (const mstch::data* d = data_.Member(open, name, made)) return d;
    auto it = folded_.find(FoldCase(name));
    if (it == folded_.end() || it->second == name) return nullptr;
    return data_.Member(open, it->second, made);
  }

  const TemplateData& data_;
  std::vector<const mstch::data*> open_;  // the root, then the open sections
  // The data made for lookups inside each open section, beside open_.
  // Lookups are const to the engine, and what they make lives here.
  mutable std::vector<MadeData> made_;
  std::map<std::string, std::string> folded_;  // case folded -> name as given
  const std::string& path_;
  const int64_t max_entries_;
  int64_t entries_left_;
};

// The rendered document, failing as soon as it would grow beyond its limit.
// The engine hands it the output a line at a time.
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

}  // namespace

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string RenderTemplate(const std::string& text, const TemplateData& data,
                           std::map<std::string, std::string> folded, const std::string& path,
                           const ReportLimits& limits) {
  if (SectionDepth(text) > limits.max_section_depth)
    throw Error(kEReportError, "Report template \"" + path +
                                   "\": sections are nested deeper than " +
                                   std::to_string(limits.max_section_depth) + " levels");
  mstch::mustache tmpl(RemoveStandaloneTagLines(text));
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());
  tmpl.set_custom_escape(EscapeHtml);
  ReportContext context(data, std::move(folded), path, limits.max_section_entries);
  LimitedOutput output(path, limits.max_output_bytes);
  tmpl.render(context, output);
  if (!tmpl.is_valid())
    throw Error(kEReportError, "Report template \"" + path + "\": " + tmpl.error_message());
  return std::move(output.text());
}

}  // namespace ostrevane::delivery
