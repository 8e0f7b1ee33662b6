// The listing of "-list:FILE -check": what expansion made of every line,
// without connecting or running anything. One block per job, labels in a
// fixed column; secrets never appear (every option, data source, server and
// connection string shown through MaskSecrets; server passwords left out).
#include <algorithm>
#include <cstdio>

#include "common/case_fold.h"
#include "common/path.h"
#include "common/text.h"
#include "control/list_file.h"
#include "data/connection_string.h"
#include "delivery/mail_address.h"
#include "workers/sql_macros.h"

namespace ostrevane {
namespace {

std::string Bytes(const std::string& text) {
  return std::to_string(text.size()) + (text.size() == 1 ? " byte" : " bytes");
}

// An SQL text as the listing shows it: the file it came from and its size.
std::string SqlFile(const std::string& file, const std::string& text) {
  return file.empty() ? Bytes(text) : ShowControlCharacters(file) + " (" + Bytes(text) + ")";
}

std::string Masked(const std::string& text, SecretText kind = SecretText::kAny) {
  return ShowControlCharacters(MaskSecrets(text, kind));
}

std::string Quoted(const std::string& c) {
  return c.empty() ? std::string("none") : Concat({"\"", ShowControlCharacters(c), "\""});
}

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

// Whether the sender can stand in MAIL FROM: one address with a local part
// and a domain.
bool IsMailAddress(const std::string& sender) {
  try {
    const std::vector<delivery::MailAddress> list = delivery::ParseAddressList(sender);
    if (list.size() != 1) return false;
    const std::string& address = list[0].address;
    const size_t at = address.find('@');
    return at != std::string::npos && at > 0 && at + 1 < address.size();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

JobListing DescribeJobs(const std::vector<Job>& jobs, const MailSettings& mail,
                        const S3Settings& s3) {
  bool mails = false;
  JobListing listing;
  std::vector<std::string>& out = listing.lines;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    if (i > 0) out.emplace_back();
    out.push_back("job " + std::to_string(job.run_number) + ", list line " +
                  std::to_string(job.list_line_number));
    Block b(out);
    const bool result_job = IsResultJob(job);
    b.Add("kind", result_job ? "result (writes files)"
                             : "script (no result file: the SQL runs as batches)");
    b.Add("connection", job.connection_string.empty() ? "none" : Masked(job.connection_string));
    const std::string data_source = Masked(job.data_source, SecretText::kServer);
    if (job.data_source.empty())
      b.Add("data source", "none");
    else if (job.data_source_name == job.data_source)
      b.Add("data source", data_source);
    else
      b.Add("data source",
            data_source + " (" + Masked(job.data_source_name, SecretText::kServer) + ")");
    b.Add("sql", job.sql.empty() ? "none" : SqlFile(job.sql_file, job.sql));
    if (!job.post_sql.empty()) b.Add("post-sql", SqlFile(job.post_sql_file, job.post_sql));
    if (!job.per_record_sql.empty())
      b.Add("post-rec sql", SqlFile(job.per_record_sql_file, job.per_record_sql));
    if (!job.csv_path.empty()) b.Add("csv", Masked(job.csv_path));
    if (!job.xml_path.empty()) b.Add("xml", Masked(job.xml_path));
    if (!job.json_path.empty()) b.Add("json", Masked(job.json_path));
    if (!job.xml_template.empty())
      b.Add("xml template", Masked(job.xml_template) + " (no XML output)");
    b.Add("csv format", "separator " + Quoted(job.csv_separator) + ", quote " +
                            Quoted(job.csv_quote) + ", code page " +
                            std::to_string(job.csv_code_page) +
                            (job.csv_code_page == 1 ? " (UTF-16LE)" : " (8-bit)") +
                            (job.csv_header == Switch::kOn ? ", header line" : ""));
    if (job.compression.method == CompressionMethod::kGzip ||
        job.compression.method == CompressionMethod::kZstd)
      b.Add("compression",
            std::string(job.compression.method == CompressionMethod::kGzip ? "gzip" : "zstd") +
                " level " + std::to_string(job.compression.level));
    if (result_job && job.if_empty == IfEmpty::kSkip)
      b.Add("if empty", "skip (done, nothing written or delivered)");
    if (job.job_timeout > 0)
      b.Add("job timeout", std::to_string(job.job_timeout) + " s");
    else if (job.job_timeout == 0)
      b.Add("job timeout", "none");
    if (result_job && job.if_empty == IfEmpty::kDeliver)
      b.Add("if empty", "deliver (done, the files written without records and delivered)");
    b.Add("?DATE ?TIME", Quoted(job.date_pattern) + " " + Quoted(job.time_pattern));
    if (!job.mail_to.empty())
      b.Add("mail", Masked(job.mail_to) +
                        (job.report_template.empty()
                             ? ""
                             : " (template " + Masked(AbsolutePath(job.report_template)) + ")"));
    if (!job.mail_to.empty() && !job.mail_subject.empty())
      b.Add("subject", Quoted(job.mail_subject));
    if (!job.mail_to.empty() && !job.mail_body_file.empty())
      b.Add("mail body", SqlFile(job.mail_body_file, job.mail_body));
    if (!job.http_url.empty()) b.Add("http", Masked(job.http_url, SecretText::kServer));
    if (!job.ftp_server.empty())
      b.Add("ftp", Masked(job.ftp_server, SecretText::kServer) + " (folder " +
                       Quoted(job.ftp_folder) + ")");
    if (!job.sftp_server.empty())
      b.Add("sftp", Masked(job.sftp_server, SecretText::kServer) + " (folder " +
                        Quoted(job.sftp_folder) + ")");
    if (job.wants_s3)
      b.Add("s3", "s3://" + ShowControlCharacters(s3.bucket) + "/" +
                      ShowControlCharacters(job.s3_prefix) +
                      (s3.endpoint.empty() ? "" : " at " + Masked(s3.endpoint, SecretText::kServer)));
    if (job.mail_to.empty() && job.http_url.empty() && job.ftp_server.empty() &&
        job.sftp_server.empty() && !job.wants_s3)
      b.Add("delivery", "none");
    // The deliveries the run would fail, as it would fail them (only a job
    // that writes files delivers).
    if (result_job) {
      const size_t lines_before = out.size();
      if (!job.mail_to.empty() && Trim(mail.server).empty())
        b.Add("error", "no SMTP server is set in settings.ini");
      if (job.wants_http && Trim(job.http_url).empty())
        b.Add("error", "no HTTP server is set in settings.ini");
      if (job.wants_ftp && Trim(job.ftp_server).empty())
        b.Add("error", "no FTP server is set in settings.ini");
      if (job.wants_sftp && Trim(job.sftp_server).empty())
        b.Add("error", "no SFTP server is set in settings.ini");
      if (job.wants_s3 && Trim(s3.endpoint).empty())
        b.Add("error", "no S3 endpoint is set in settings.ini");
      if (job.wants_s3 && Trim(s3.bucket).empty())
        b.Add("error", "no S3 bucket is set in settings.ini");
      if (out.size() > lines_before) ++listing.failing_jobs;
    }
    mails = mails || !job.mail_to.empty();
    for (const NameValue& f : job.csv_fields)
      b.Add("field", ShowControlCharacters(f.name) + " = " + ShowControlCharacters(f.value));
    // The values in force, as written ("${...}" is not expanded): the
    // job's own -params, else its SQL's "--param " lines, and the run's
    // -params where neither names the parameter (the global post-SQL takes
    // only its own lines). A parameter whose name says it is secret shows
    // no value at all.
    std::vector<std::string> shown;  // the names in force so far
    auto param = [&](const NameValue& p, const std::string& from) {
      shown.push_back(p.name);
      b.Add("param", ShowControlCharacters(p.name) + " = " +
                         (IsSecretName(p.name) ? std::string("***") : Masked(p.value)) + from);
    };
    auto run_gives = [&](const std::string& name) {
      return std::any_of(job.run_parameters.begin(), job.run_parameters.end(),
                         [&](const NameValue& p) { return NamesEqual(p.name, name); });
    };
    for (const NameValue& p : job.sql_parameters) param(p, "");
    if (job.sql_parameters.empty() && result_job)
      for (const MacroEntry& line : ReadMacroLines(job.sql, MacroKind::kParam))
        if (!run_gives(line.entry.name))
          param(line.entry, " (\"--param \" line " + std::to_string(line.line) + " of the SQL)");
    for (const NameValue& p : job.run_parameters)
      if (std::none_of(shown.begin(), shown.end(),
                       [&](const std::string& name) { return NamesEqual(name, p.name); }))
        param(p, " (-params beside -list)");
  }
  if (!out.empty()) out.emplace_back();
  if (mails && !IsMailAddress(mail.sender)) {
    out.push_back("warning: Sender \"" + ShowControlCharacters(mail.sender) +
                  "\" in settings.ini is no mail address; set Sender");
    out.emplace_back();
  }
  out.push_back(std::to_string(jobs.size()) + (jobs.size() == 1 ? " job" : " jobs"));
  return listing;
}

}  // namespace ostrevane
