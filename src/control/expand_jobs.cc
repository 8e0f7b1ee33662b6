#include "common/error.h"
#include "common/guid.h"
#include "control/list_file.h"

namespace ostrevane {
namespace {

// Formats that are still not given take the program defaults (first job,
// or a job with -clear) or the previous job's values.
void FillFormats(tRec& r, const tRec& from) {
  if (r.fdf.empty()) r.fdf = from.fdf;
  if (r.ftf.empty()) r.ftf = from.ftf;
  if (r.csvsep.empty()) r.csvsep = from.csvsep;
  if (r.csvisl.empty()) r.csvisl = from.csvisl;
  if (r.csvcp == 255) r.csvcp = from.csvcp;
}

// What a line leaves empty it takes from the line above, field group by
// field group. Never taken: xmlt, ftpdir, line, attach, guid, dt, clear.
void Inherit(tRec& r, const tRec& p) {
  for (auto field : {&tRec::ss, &tRec::csv, &tRec::xml, &tRec::postss, &tRec::postrecss})
    if ((r.*field).empty()) r.*field = p.*field;
  if (r.mailto.empty()) {
    // The template belongs to the recipients: it replaces one given here.
    r.mailto = p.mailto;
    r.frtemplate = p.frtemplate;
  }
  if (r.httpto.empty()) r.httpto = p.httpto, r.httpl = p.httpl, r.httpp = p.httpp;
  if (r.sftpto.empty()) r.sftpto = p.sftpto, r.sftpl = p.sftpl, r.sftpp = p.sftpp;
  if (r.ftpto.empty()) r.ftpto = p.ftpto, r.ftpl = p.ftpl, r.ftpp = p.ftpp;
  if (r.fields.empty()) r.fields = p.fields;
  if (r.params.empty()) r.params = p.params;
}

}  // namespace

void ExpandJobs(std::vector<tRec>& jobs, const OptionContext& ctx, const Clock& clock) {
  tRec defaults;
  SetDefaultFormats(defaults);
  for (size_t i = 0; i < jobs.size(); ++i) {
    tRec& r = jobs[i];
    const tRec* p = i > 0 ? &jobs[i - 1] : nullptr;
    r.guid = NewGuid();
    r.dt = clock.Now();

    std::string c = r.cs;
    if (!r.clear && c.empty() && p) {
      // The line takes its connection from the line above.
      r.cs = p->cs;
      if (r.cs.empty()) {
        // No connection anywhere: nothing else is completed for this job.
        r.s.clear();
        continue;
      }
      if (r.ds.empty()) {
        // Same connection and same data source as the line above: its
        // connection string already carries any data source it added.
        r.ds = p->ds;
        r.name = p->name;
        c = p->s;
      } else {
        c = r.cs;
        AddDataSource(c, r.ds);
      }
    } else if (r.ds.empty()) {
      r.ds = ExtractDataSource(c);
      r.name = ctx.names ? FindName(*ctx.names, r.ds) : r.ds;
    } else {
      AddDataSource(c, r.ds);
    }
    r.s = std::move(c);  // cs itself never receives the data source

    const bool fresh = r.clear || !p;
    FillFormats(r, fresh ? defaults : *p);
    if (!fresh) Inherit(r, *p);
  }
}

std::string ExtractDataSource(std::string_view init_string) {
  constexpr std::string_view kKey = "Data Source=";
  const size_t at = init_string.find(kKey);
  if (at == std::string_view::npos) return {};
  const size_t begin = at + kKey.size();
  const size_t end = init_string.find(';', begin);
  return std::string(init_string.substr(begin, end == std::string_view::npos ? end : end - begin));
}

void AddDataSource(std::string& init_string, std::string_view data_source) {
  if (init_string.find("Data Source=") != std::string::npos)
    throw Exception("Data Source already implemented");
  init_string += "; Data Source=";
  init_string += data_source;
}

}  // namespace ostrevane
