// The listing of "-list:FILE -check": what expansion made of every line,
// without connecting or running anything. One block per job, labels in a
// fixed column; passwords never appear (connection string values masked,
// server passwords left out).
#include <cstdio>

#include "control/list_file.h"
#include "workers/connection_string.h"

namespace ostrevane {
namespace {

// Control characters (possible in file contents) shown as \xHH, so every
// value stays on its own line.
std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Bytes(const std::string& text) {
  return std::to_string(text.size()) + (text.size() == 1 ? " byte" : " bytes");
}

std::string Quoted(const std::string& c) { return c.empty() ? "none" : "\"" + Printable(c) + "\""; }

class Block {
 public:
  explicit Block(std::vector<std::string>& out) : out_(out) {}
  void Add(std::string_view label, const std::string& value) {
    std::string line = "  ";
    line += label;
    line.append(label.size() < 15 ? 15 - label.size() : 1, ' ');
    line += value;
    out_.push_back(std::move(line));
  }

 private:
  std::vector<std::string>& out_;
};

}  // namespace

std::vector<std::string> DescribeJobs(const std::vector<tRec>& jobs) {
  std::vector<std::string> out;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const tRec& r = jobs[i];
    if (i > 0) out.emplace_back();
    out.push_back("job " + std::to_string(i + 1) + ", list line " + std::to_string(r.line_no));
    Block b(out);
    const bool result_job = !r.csv.empty() || !r.xml.empty();
    b.Add("kind", result_job ? "result (writes files)"
                             : "script (no result file: the SQL runs as batches)");
    b.Add("connection", r.s.empty() ? "none" : Printable(MaskPasswords(r.s)));
    if (r.ds.empty()) b.Add("data source", "none");
    else if (r.name == r.ds) b.Add("data source", Printable(r.ds));
    else b.Add("data source", Printable(r.ds) + " (" + Printable(r.name) + ")");
    b.Add("sql", r.ss.empty() ? "none" : Bytes(r.ss));
    if (!r.postss.empty()) b.Add("post-sql", Bytes(r.postss));
    if (!r.postrecss.empty()) b.Add("post-rec sql", Bytes(r.postrecss));
    if (!r.csv.empty()) b.Add("csv", Printable(r.csv));
    if (!r.xml.empty()) b.Add("xml", Printable(r.xml));
    if (!r.xmlt.empty()) b.Add("xml template", Printable(r.xmlt) + " (no XML output)");
    b.Add("csv format", "separator " + Quoted(r.csvsep) + ", quote " + Quoted(r.csvisl) +
                            ", code page " + std::to_string(r.csvcp) +
                            (r.csvcp == 1 ? " (UTF-16LE)" : " (8-bit)"));
    b.Add("?DATE ?TIME", Quoted(r.fdf) + " " + Quoted(r.ftf));
    if (!r.mailto.empty())
      b.Add("mail", Printable(r.mailto) +
                        (r.frtemplate.empty() ? "" : " (template " + Printable(r.frtemplate) + ")"));
    if (!r.httpto.empty()) b.Add("http", Printable(r.httpto));
    if (!r.ftpto.empty())
      b.Add("ftp", Printable(r.ftpto) + " (folder " + Quoted(r.ftpdir) + ")");
    if (r.mailto.empty() && r.httpto.empty() && r.ftpto.empty()) b.Add("delivery", "none");
    for (const tParamRec& f : r.fields) b.Add("field", Printable(f.name) + " = " + Printable(f.value));
    for (const tParamRec& p : r.params) b.Add("param", Printable(p.name) + " = " + Printable(p.value));
  }
  if (!out.empty()) out.emplace_back();
  out.push_back(std::to_string(jobs.size()) + (jobs.size() == 1 ? " job" : " jobs"));
  return out;
}

}  // namespace ostrevane
