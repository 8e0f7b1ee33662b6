// The settings values of a run, read from settings.ini once on the main
// thread before any worker exists; read-only afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrevane {

// How many records an HTML report mail may render when settings.ini does not say.
inline constexpr int32_t kDefaultReportMaxRecords = 1'000'000;

struct MailSettings {
  std::string subject;
  std::string sender;
  std::string login;  // empty: no authentication
  std::string password;
  std::string server;
  int32_t port = 0;  // mail delivery uses the low 16 bits
  uint8_t tls_mode = 0;
  // ReportMaxRecords: the most records a report (-frtemplate) renders; 0 or
  // less: any number.
  int32_t report_max_records = kDefaultReportMaxRecords;
};

struct ServerSettings {
  std::string server;
  std::string login;
  std::string password;
  int32_t port = 0;
  bool auth = false;
};

// Section "SFTP": the server, and how the program logs in and knows the
// server. The key file must be unencrypted and readable by its owner only.
struct SftpSettings : ServerSettings {
  std::string key_file;     // KeyFile: private key; empty: password login only
  std::string known_hosts;  // KnownHosts: empty means ~/.ssh/known_hosts
};

// Section "S3": an S3-compatible object store that -s3 delivers to.
struct S3Settings {
  std::string endpoint;     // Endpoint: "https://host[:port]", no path
  std::string region = "us-east-1";  // Region: part of every signature
  std::string bucket;       // Bucket
  bool path_style = false;  // PathStyle=1: ENDPOINT/BUCKET/KEY, else BUCKET.HOST/KEY
  // AccessKey and Secret (stored encrypted, set with -sets3secret). An
  // empty AccessKey takes the key, the secret and a session token from the
  // environment instead (AWS_ACCESS_KEY_ID, ...).
  std::string access_key;
  std::string secret;
  int32_t multipart_threshold_mib = 64;  // MultipartThreshold: larger files go in parts
  int32_t part_size_mib = 16;            // PartSize: the size of those parts
};

struct Settings {
  std::string path;  // settings.ini, absolute
  // Lines of settings.ini that are ignored although they look meant (an
  // unknown or misspelt section or key, ...), one message each; the
  // program shows them at its start.
  std::vector<std::string> warnings;
  int32_t connection_timeout = 0;  // seconds
  int32_t command_timeout = 0;     // seconds
  int32_t delivery_timeout = 0;    // seconds for each delivery as a whole; 0 or less: none
  int32_t job_timeout = 0;         // seconds for each job as a whole; 0 or less: none
  int32_t delivery_retries = 0;    // tries after a transient failure of a delivery
  int32_t delivery_retry_delay = 30;  // seconds before the first retry, doubled for each next
  std::string log_dir;
  int32_t thread_count = 1;  // at least 1
  std::string ansi_codepage; // "" means UTF-8
  // The locale whose date and time formats the run uses; "" means the
  // process locale (LC_ALL, LC_TIME, LANG). Checked to exist here.
  std::string format_locale;
  bool log_utf8 = false;      // log_encoding=utf-8: log files in UTF-8, else UTF-16LE
  // metrics_file: the file each list run replaces with its metrics in the
  // Prometheus text format; "" means none.
  std::string metrics_file;
  MailSettings mail;
  SftpSettings sftp;
  ServerSettings http;
  ServerSettings http_proxy;
  ServerSettings ftp;
  int32_t ftp_tls = 0;  // key TLS of section FTP: 0 none, 1 AUTH TLS, 2 implicit
  S3Settings s3;
};

// One password command's request: set this section's Password to `password`.
struct PasswordChange {
  bool set = false;
  std::string password;
};

// Reads (and creates with defaults when missing) settings.ini in `folder`
// (ends with "/"). The six requests are mail, SFTP, HTTP, HTTP proxy, FTP
// and the S3 secret (key Secret of section S3).
// Selects the 8-bit code page named by ansi_codepage (SetAnsiCodePage)
// before any password is decrypted or encrypted, since it fixes their bytes.
// A value that is given but does not parse (a number, log_encoding,
// ansi_codepage, format_locale) throws Exception naming the file, line, key,
// value and what the key takes; names the program does not know only give
// `warnings`. Values may hold "${NAME}" and "${file:PATH}"
// (common/environment_text.h), and a Password key one instead of its cipher
// text; one that cannot be expanded throws naming the file, line and key.
Settings ReadSettings(const std::string& folder, const PasswordChange& mail,
                      const PasswordChange& sftp, const PasswordChange& http,
                      const PasswordChange& http_proxy, const PasswordChange& ftp,
                      const PasswordChange& s3_secret = {});

}  // namespace ostrevane
