#include <utility>

#include "common/error.h"
#include "common/guid.h"
#include "common/path.h"
#include "control/list_file.h"

namespace ostrevane {
namespace {

// Formats, -ifempty and -jobtimeout that are still not given take the
// program defaults (first job, or a job with -clear) or the previous job's
// values.
void FillFormats(Job& job, const Job& from) {
  if (job.date_pattern.empty()) job.date_pattern = from.date_pattern;
  if (job.time_pattern.empty()) job.time_pattern = from.time_pattern;
  if (job.csv_separator.empty()) job.csv_separator = from.csv_separator;
  if (job.csv_quote.empty()) job.csv_quote = from.csv_quote;
  if (job.csv_code_page == 255) job.csv_code_page = from.csv_code_page;
  if (job.if_empty == IfEmpty::kNotGiven) job.if_empty = from.if_empty;
  if (job.job_timeout < 0) job.job_timeout = from.job_timeout;
  if (job.csv_header == Switch::kNotGiven) job.csv_header = from.csv_header;
  if (job.compression.method == CompressionMethod::kNotGiven) job.compression = from.compression;
}

// What a line leaves empty it takes from the line above, field group by
// field group. Never taken: xml_template, ftp_folder, list_line, written_files, id,
// timestamp, run_number, starts_afresh, run_parameters.
void Inherit(Job& job, const Job& above) {
  // Each SQL text with the name of its file.
  for (auto [text, file] : {std::pair{&Job::sql, &Job::sql_file},
                            std::pair{&Job::post_sql, &Job::post_sql_file},
                            std::pair{&Job::per_record_sql, &Job::per_record_sql_file}})
    if ((job.*text).empty()) job.*text = above.*text, job.*file = above.*file;
  for (auto field : {&Job::csv_path, &Job::xml_path, &Job::json_path})
    if ((job.*field).empty()) job.*field = above.*field;
  // A line's own mail body, a text or a report, is never replaced by the
  // other kind from above.
  const bool own_body = !job.mail_body_file.empty();
  if (job.mail_to.empty()) {
    // The template belongs to the recipients (a line that gives its own
    // template without -mail was refused before).
    job.mail_to = above.mail_to;
    if (!own_body) job.report_template = above.report_template;
  }
  if (job.mail_subject.empty()) job.mail_subject = above.mail_subject;
  if (!own_body && job.report_template.empty())
    job.mail_body = above.mail_body, job.mail_body_file = above.mail_body_file;
  if (job.http_url.empty())
    job.http_url = above.http_url, job.http_login = above.http_login,
    job.http_password = above.http_password, job.wants_http |= above.wants_http;
  if (!job.wants_sftp)
    job.sftp_server = above.sftp_server, job.sftp_login = above.sftp_login,
    job.sftp_password = above.sftp_password, job.sftp_folder = above.sftp_folder,
    job.wants_sftp = above.wants_sftp;
  if (!job.wants_s3) job.s3_prefix = above.s3_prefix, job.wants_s3 = above.wants_s3;
  if (job.ftp_server.empty())
    job.ftp_server = above.ftp_server, job.ftp_login = above.ftp_login,
    job.ftp_password = above.ftp_password, job.wants_ftp |= above.wants_ftp;
  if (job.csv_fields.empty() && !above.csv_fields.empty())
    job.csv_fields = above.csv_fields, job.fields_inherited = true;
  if (job.sql_parameters.empty() && !above.sql_parameters.empty())
    job.sql_parameters = above.sql_parameters, job.params_inherited = true;
}

// A -frtemplate on a line without -mail would be dropped without a word:
// replaced by the template of the -mail taken from the line above, or
// unused when nothing mails.
void RefuseTemplateWithoutMail(const Job& job, const Job* above) {
  if (job.report_template.empty() || !job.mail_to.empty()) return;
  if (above && !job.starts_afresh && !above->mail_to.empty())
    throw Exception("-frtemplate without -mail: this line takes -mail from line " +
                    std::to_string(above->list_line_number) +
                    " together with its template, which replaces this one; give -mail on this "
                    "line: -mail:RECIPIENTS -frtemplate:FILE");
  throw Exception("-frtemplate without -mail: nothing mails the report; give -mail on this "
                  "line: -mail:RECIPIENTS -frtemplate:FILE");
}

// Mistakes that only the completed job shows: compression for a job that
// writes no file, and a JSON Lines template that names the job's CSV or
// XML file (the writers would refuse the second file of that name only
// once the query ran).
void RefuseOutputClashes(const Job& job) {
  if (job.compression.method != CompressionMethod::kNone && !IsResultJob(job))
    throw Exception("-compress on a job that writes no file: without -tocsv, -toxml or -tojson "
                    "the SQL runs as a script");
  if (job.json_path.empty()) return;
  const std::string json = CleanPath(job.json_path);
  const std::string no_xml;  // -xmltmpl: the job writes no XML file
  for (auto [option, path] : {std::pair{"-tocsv", &job.csv_path},
                              std::pair{"-toxml", job.xml_template.empty() ? &job.xml_path : &no_xml}})
    if (!path->empty() && CleanPath(*path) == json)
      throw Exception(std::string("-tojson names the same file as ") + option + ": \"" +
                      job.json_path + "\"; give the JSON Lines file a name of its own");
}

// -subject and -mailbody shape a mail: without one they would be dropped
// without a word. A text body and a report are two bodies.
void RefuseMailPartsWithoutMail(const Job& job) {
  if (!job.mail_body_file.empty() && !job.report_template.empty())
    throw Exception(
        "-mailbody and -frtemplate on one line: the report is the mail's body; give "
        "one of them");
  if (!job.mail_to.empty()) return;
  for (auto [given, option] : {std::pair{!job.mail_subject.empty(), "-subject"},
                               std::pair{!job.mail_body_file.empty(), "-mailbody"}})
    if (given)
      throw Exception(std::string(option) +
                      " without -mail: nothing mails this job; give -mail on this line or a "
                      "line above");
}

void ExpandJob(Job& job, const Job* above, const Job& defaults, const OptionContext& ctx) {
  RefuseTemplateWithoutMail(job, above);
  std::string c = job.data_link_text;
  if (!job.starts_afresh && c.empty() && above) {
    // The line takes its connection from the line above.
    job.data_link_text = above->data_link_text;
    if (job.data_link_text.empty()) {
      // No connection anywhere: nothing else is completed for this job but
      // its formats, which the jobs below take from it.
      job.connection_string.clear();
      FillFormats(job, *above);
      return;
    }
    if (job.data_source.empty()) {
      // Same connection and same data source as the line above: its
      // connection string already carries any data source it added.
      job.data_source = above->data_source;
      job.data_source_name = above->data_source_name;
      c = above->connection_string;
    } else {
      c = job.data_link_text;
      WithDataSource(c, job.data_source);
    }
  } else if (job.data_source.empty()) {
    job.data_source = DataSourceOf(c);
    job.data_source_name =
        ctx.names ? DisplayNameOf(*ctx.names, job.data_source) : job.data_source;
  } else {
    WithDataSource(c, job.data_source);
  }
  job.connection_string = std::move(c);  // data_link_text itself never receives the data source

  const bool fresh = job.starts_afresh || !above;
  FillFormats(job, fresh ? defaults : *above);
  if (!fresh) Inherit(job, *above);
  RefuseOutputClashes(job);
  RefuseMailPartsWithoutMail(job);
}

}  // namespace

void ExpandList(std::vector<Job>& jobs, const OptionContext& ctx, const Clock& clock,
                const std::string& list_name, std::vector<std::string>* problems) {
  Job defaults;
  SetDefaultFormats(defaults);
  for (size_t i = 0; i < jobs.size(); ++i) {
    Job& job = jobs[i];
    job.id = NewGuid();
    job.run_number = static_cast<int>(i) + 1;
    job.timestamp = clock.Now();
    try {
      ExpandJob(job, i > 0 ? &jobs[i - 1] : nullptr, defaults, ctx);
    } catch (const Error& e) {
      const Error located = e.WithPrefix(ListLocation(list_name, job.list_line_number));
      if (!problems) throw located;
      problems->push_back(located.class_name() + ": " + located.message());
    }
  }
}

std::string DataSourceOf(std::string_view init_string) {
  constexpr std::string_view kKey = "Data Source=";
  const size_t at = init_string.find(kKey);
  if (at == std::string_view::npos) return {};
  const size_t begin = at + kKey.size();
  const size_t end = init_string.find(';', begin);
  return std::string(init_string.substr(begin, end == std::string_view::npos ? end : end - begin));
}

void WithDataSource(std::string& init_string, std::string_view data_source) {
  if (init_string.find("Data Source=") != std::string::npos)
    throw Exception("Data Source already implemented");
  init_string += "; Data Source=";
  init_string += data_source;
}

}  // namespace ostrevane
