// The Mustache engine under the report, for the files of this folder only:
// it names the template library's types, which nothing above delivery sees.
#pragma once

#include <map>
#include <memory>
#include <mustache.hpp>
#include <span>
#include <string>
#include <vector>

#include "delivery/report.h"

namespace ostrevane::delivery {

namespace mstch = kainjow::mustache;

// Data made for one lookup of a template name. It lives until the section
// that was the innermost open one at the lookup is left: the engine uses
// what a lookup returns at once, or enters it as a section inside that one.
class MadeData {
 public:
  const mstch::data* Keep(mstch::data data) {
    items_.push_back(std::make_unique<mstch::data>(std::move(data)));
    return items_.back().get();
  }

 private:
  std::vector<std::unique_ptr<mstch::data>> items_;
};

// What a template is rendered over. The engine enters data as sections and
// asks for members of the open ones; a member may be data that lives on or
// data made for the one lookup (kept in `made`), so that a source can stand
// for a large result without a data object per value.
class TemplateData {
 public:
  virtual ~TemplateData() = default;
  virtual const mstch::data& root() const = 0;
  // The member `name` (exactly as written) of `open.back()`; `open` are the
  // data of the open sections, the root first, so that a member may depend
  // on the sections around it. Null when there is none.
  virtual const mstch::data* Member(std::span<const mstch::data* const> open,
                                    const std::string& name, MadeData& made) const = 0;
};

// Plain data: the members are the objects' own.
class PlainTemplateData : public TemplateData {
 public:
  explicit PlainTemplateData(const mstch::data& root) : root_(root) {}
  const mstch::data& root() const override { return root_; }
  const mstch::data* Member(std::span<const mstch::data* const> open, const std::string& name,
                            MadeData&) const override {
    return open.back()->get(name);
  }

 private:
  const mstch::data& root_;
};

// Renders template `text` over `data`. A name that is not found as written
// is looked up again through `folded` (case-folded name -> name as given),
// so {{customer_id}} finds the field CUSTOMER_ID. `path` names the template
// in messages. Values are HTML-escaped as & < > " ' -> &amp; &lt; &gt;
// &quot; &#39;. Throws Error(kEReportError) for a template the engine
// cannot parse or render, or one that passes a limit.
std::string RenderTemplate(const std::string& text, const TemplateData& data,
                           std::map<std::string, std::string> folded, const std::string& path,
                           const ReportLimits& limits = {});

// The escaping of {{name}}: the five characters that HTML gives a meaning,
// the apostrophe as "&#39;" (HTML 4 has no "&apos;").
std::string EscapeHtml(const std::string& text);

}  // namespace ostrevane::delivery
