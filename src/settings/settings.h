// The settings values of a run, read from settings.ini once on the main
// thread before any worker exists; read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace ostrevane {

struct MailSettings {
  std::string subject;
  std::string sender;
  std::string login;  // empty: no authentication
  std::string password;
  std::string server;
  int32_t port = 0;  // mail delivery uses the low 16 bits
  uint8_t tls_mode = 0;
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

struct Settings {
  int32_t connection_timeout = 0;  // seconds
  int32_t command_timeout = 0;     // seconds
  int32_t delivery_timeout = 0;    // seconds for each delivery as a whole; 0 or less: none
  int32_t job_timeout = 0;         // seconds for each job as a whole; 0 or less: none
  int32_t delivery_retries = 0;    // tries after a transient failure of a delivery
  int32_t delivery_retry_delay = 30;  // seconds before the first retry, doubled for each next
  std::string log_dir;
  int32_t thread_count = 1;  // at least 1
  std::string ansi_codepage; // "" means UTF-8
  bool log_utf8 = false;      // log_encoding=utf-8: log files in UTF-8, else UTF-16LE
  MailSettings mail;
  SftpSettings sftp;
  ServerSettings http;
  ServerSettings http_proxy;
  ServerSettings ftp;
  int32_t ftp_tls = 0;  // key TLS of section FTP: 0 none, 1 AUTH TLS, 2 implicit
};

// One password command's request: set this section's Password to `password`.
struct PasswordChange {
  bool set = false;
  std::string password;
};

// Reads (and creates with defaults when missing) settings.ini in `folder`
// (ends with "/"). The five requests are mail, SFTP, HTTP, HTTP proxy, FTP.
// Selects the 8-bit code page named by ansi_codepage (SetAnsiCodePage)
// before any password is decrypted or encrypted, since it fixes their bytes.
Settings ReadSettings(const std::string& folder, const PasswordChange& mail,
                      const PasswordChange& sftp, const PasswordChange& http,
                      const PasswordChange& http_proxy, const PasswordChange& ftp);

}  // namespace ostrevane
