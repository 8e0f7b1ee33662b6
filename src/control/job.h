// A job: everything one line of a list says, as its options gave it and
// list expansion completed it. Jobs are plain values, copied whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/guid.h"
#include "common/progress_meter.h"
#include "common/unique_fd.h"

namespace ostrevane {

// A name and a text: an entry of a job's CSV field list (result field name
// and its date-time format) or of its SQL parameters (name and value).
struct NameValue {
  std::string name;
  std::string value;
};

// A file that a job wrote, as the writer saw its bytes go out.
struct WrittenFile {
  std::string path;    // as expanded from the name template
  int64_t bytes = 0;   // its size
  std::string sha256;  // 64 hexadecimal digits; empty when it could not be taken
  // The file as this job wrote it, open for reading from the moment it got
  // its name, for the job's deliveries: they send these bytes even when a
  // later job has replaced the file meanwhile. Null when the job delivers
  // nothing, for a file written in place (a device, a pipe), and once the
  // job has ended (the run report keeps no descriptor).
  std::shared_ptr<const UniqueFd> kept = nullptr;
};

// -ifempty: what a main query without rows means.
enum class IfEmpty : uint8_t {
  kNotGiven,  // taken from the line above (or kError)
  kError,     // the job fails: "zero records returned"
  kSkip,      // the job ends as done, writing and delivering nothing
  kDeliver,   // the job ends as done, writing its files empty and delivering them
};

// -compress: how the job's files are compressed.
enum class CompressionMethod : uint8_t {
  kNotGiven,  // taken from the line above (or kNone)
  kNone,
  kGzip,
  kZstd,
};
struct Compression {
  CompressionMethod method = CompressionMethod::kNotGiven;
  int level = 0;  // within the method's range once the method is kGzip or kZstd
};

// A yes-or-no option that lines below take over unless they give it.
enum class Switch : uint8_t { kNotGiven, kOff, kOn };

// One job of a run. Each field that an option sets names the option; the
// options are described in the manual.
struct Job {
  Guid id;                   // new for every job: "?GUID" in file names
  DateTime timestamp = 0;    // taken when the list was expanded: "?DATE" and "?TIME"
  std::string list_line;     // the trimmed list-file line of this job
  int list_line_number = 0;  // its 1-based line number in the list file
  int run_number = 0;        // its 1-based place among the run's jobs, in list order

  std::string data_link_text;     // -udl: the initialisation string read from the file
  std::string connection_string;  // data_link_text plus "; Data Source=" of -ds, if any
  std::string sql;                // -sql: the main SQL text
  std::string post_sql;           // -postsql: run once after the result was delivered
  std::string per_record_sql;     // -postrecsql: run once for every record of the result
  // The absolute names of the files that sql, post_sql and per_record_sql
  // were read from (taken from the line above with the text).
  std::string sql_file, post_sql_file, per_record_sql_file;
  std::string data_source;        // -ds: the data source
  std::string data_source_name;   // its display name from names.csv

  std::string csv_path;       // -tocsv: CSV file name template
  std::string xml_path;       // -toxml: XML file name template
  std::string json_path;      // -tojson: JSON Lines file name template
  std::string xml_template;   // -xmltmpl: a job that has one writes no XML
  std::string csv_separator;  // -csvformat: field separator (one character)
  std::string csv_quote;      // -csvformat: quote character (empty or one character)
  // -csvcp: 1 writes UTF-16LE with a byte-order mark, other values an
  // 8-bit code page; 255 means not given.
  uint8_t csv_code_page = 0;
  Switch csv_header = Switch::kNotGiven;  // -csvheader: the field names as the first line
  Compression compression;                // -compress
  std::vector<NameValue> csv_fields;      // -fields: CSV columns and their date-time formats
  std::vector<NameValue> sql_parameters;  // -params: SQL parameters and their values
  // The lists above were taken from the line above. Messages say so, and a
  // parameter value that this line's SQL does not use is then no mistake.
  bool fields_inherited = false;
  bool params_inherited = false;
  // -params beside -list: values for every job of the run, below the job's
  // own -params and above its SQL's "--param " lines (set after expansion).
  std::vector<NameValue> run_parameters;
  std::string date_pattern;               // -fdf: date pattern of "?DATE"
  std::string time_pattern;               // -ftf: time pattern of "?TIME"

  std::string mail_to;          // -mail: recipients
  std::string report_template;  // -frtemplate: report template of the HTML mail body (as written)
  std::string mail_subject;     // -subject: with its macros; empty: Subject of settings.ini
  std::string mail_body;        // -mailbody: the text of the mail's body
  std::string mail_body_file;   // its file's absolute name
  std::string sftp_server, sftp_login, sftp_password;  // -sftp: from settings.ini
  std::string sftp_folder;                             // -sftp:folder
  std::string http_url, http_login, http_password;     // -http: from settings.ini
  std::string ftp_server, ftp_login, ftp_password;     // -ftp: from settings.ini
  std::string ftp_folder;                              // -ftpdir
  // -http, -ftp or -ftpdir was given (here or on a line above that this job
  // takes its delivery from): with no server in settings.ini the job fails
  // instead of skipping the delivery.
  bool wants_http = false;
  bool wants_ftp = false;
  bool wants_sftp = false;  // -sftp, as wants_ftp
  // -s3[:PREFIX]: every file becomes an object of the bucket of section S3
  // of settings.ini, under PREFIX taken as a folder.
  bool wants_s3 = false;
  std::string s3_prefix;

  IfEmpty if_empty = IfEmpty::kNotGiven;  // -ifempty
  // -jobtimeout: seconds the whole job may take, 0 for no limit; -1 when
  // not given (taken from the line above, else settings.ini's job_timeout).
  int32_t job_timeout = -1;

  std::vector<std::string> written_files;  // files written for this job, in order
  // Those of written_files that the JSON Lines writer wrote (they are sent
  // as JSON Lines, the others as CSV or XML).
  std::vector<std::string> json_files;
  // The size and checksum of each file of written_files, in the order the
  // writers finished them.
  std::vector<WrittenFile> written_digests;
  // Where the writers count the bytes they write while the job runs (for
  // the progress display): the running worker's meter, null elsewhere.
  ProgressMeter* meter = nullptr;
  bool starts_afresh = false;              // -clear: inherits nothing from the lines above
};

// "job N, line M": which job of the run a line is about, by its run number
// and its list line number.
std::string JobLabel(const Job& job);

// Whether the job writes result files (-tocsv, -toxml or -tojson); a job
// that writes none runs its SQL as a script.
bool IsResultJob(const Job& job);

// Resets a job to the state in which no option is given. Leaves id,
// timestamp, run_number, data_source, ftp_folder, csv_separator, csv_quote,
// run_parameters and written_files as they are.
void ResetOptions(Job& job);

}  // namespace ostrevane
