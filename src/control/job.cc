#include "control/job.h"

namespace ostrevane {

std::string JobLabel(const Job& job) {
  return "job " + std::to_string(job.run_number) + ", line " + std::to_string(job.list_line_number);
}

bool IsResultJob(const Job& job) {
  return !job.csv_path.empty() || !job.xml_path.empty() || !job.json_path.empty();
}

void ResetOptions(Job& job) {
  for (std::string* text : {&job.list_line,         &job.data_link_text,   &job.sql,
                            &job.connection_string, &job.csv_path,         &job.xml_path,
                            &job.json_path,
                            &job.xml_template,      &job.data_source_name, &job.mail_to,
                            &job.sftp_server,       &job.sftp_login,       &job.sftp_password,
                            &job.sftp_folder,       &job.s3_prefix,
                            &job.date_pattern,      &job.time_pattern,     &job.http_url,
                            &job.http_login,        &job.http_password,    &job.post_sql,
                            &job.per_record_sql,    &job.report_template,  &job.ftp_server,
                            &job.ftp_login,         &job.ftp_password,     &job.sql_file,
                            &job.post_sql_file,     &job.per_record_sql_file,
                            &job.mail_subject,      &job.mail_body,        &job.mail_body_file})
    text->clear();
  job.csv_fields.clear();
  job.sql_parameters.clear();
  job.fields_inherited = false;
  job.params_inherited = false;
  job.starts_afresh = false;
  job.wants_http = false;
  job.wants_ftp = false;
  job.wants_sftp = false;
  job.wants_s3 = false;
  job.csv_code_page = 255;
  job.csv_header = Switch::kNotGiven;
  job.compression = Compression{};
  job.if_empty = IfEmpty::kNotGiven;
  job.job_timeout = -1;
}

}  // namespace ostrevane
