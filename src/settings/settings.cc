#include "settings/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>

#include "common/codepage.h"
#include "common/environment_text.h"
#include "common/error.h"
#include "common/format_settings.h"
#include "common/path.h"
#include "common/text.h"
#include "settings/cipher.h"
#include "settings/ini_file.h"
#include "settings/settings_keys.h"

namespace ostrevane {
namespace {

// What a new settings.ini receives, in this order. The read defaults below
// differ from some of these on purpose (an existing file that lacks a key
// reads the read default); the FTP section and the Password keys are not
// written.
struct DefaultRow {
  const char* section;
  const char* key;
  const char* value;
};
constexpr DefaultRow kCreationDefaults[] = {
    {"Ostrevane", "connection_timeout", "5"},
    {"Ostrevane", "command_timeout", "10"},
    {"Ostrevane", "log_dir", "log"},
    {"Ostrevane", "thread_count", "5"},
    {"Mail", "Subject", "Ostrevane report"},
    {"Mail", "Sender", "Ostrevane"},
    {"Mail", "Login", ""},
    {"Mail", "TLS", "0"},
    {"Mail", "SMTPServer", ""},
    {"Mail", "SMTPPort", "25"},
    {"SFTP", "Server", ""},
    {"SFTP", "Port", "22"},
    {"SFTP", "Login", ""},
    {"HTTP", "Server", ""},
    {"HTTP", "Login", ""},
    {"HTTPProxy", "Server", ""},
    {"HTTPProxy", "Port", "22"},
    {"HTTPProxy", "Login", ""},
    {"HTTPProxy", "Auth", "0"},
};

// Reads the keys of one settings.ini. A value that is given but does not
// parse stops the load: a misspelt number must not quietly become the
// default (a command_timeout of "10s" read as 10 by luck, a TLS of "yes"
// read as no TLS).
class KeyReader {
 public:
  explicit KeyReader(const IniFile& ini) : ini_(ini) {}

  // The value with its "${NAME}" and "${file:PATH}" references expanded
  // (a server, a login, a folder may come from the environment).
  std::string Text(const char* section, const char* key, const char* default_value) const {
    return Expanded(section, key, RawText(section, key, default_value));
  }
  std::string RawText(const char* section, const char* key, const char* default_value) const {
    RequireKnown(section, key);
    return ini_.ReadString(section, key, default_value);
  }
  std::string Expanded(const char* section, const char* key, const std::string& raw) const {
    try {
      return ExpandEnvironment(raw);
    } catch (const Error& e) {
      throw Exception(
          Concat({AbsolutePath(ini_.path()), ", line ", std::to_string(ini_.LineOf(section, key)),
                  ": ", key, " in [", section, "]: ", e.message()}));
    }
  }
  // `accepts` completes "<key> takes ..." in the message.
  int32_t Integer(const char* section, const char* key, int32_t default_value,
                  const char* accepts) const {
    const std::string text = Text(section, key, "");
    int32_t value = 0;
    if (text.empty()) return default_value;
    if (!ParseProfileInteger(text, value)) throw Refused(section, key, text, accepts);
    return value;
  }
  bool Flag(const char* section, const char* key, bool default_value) const {
    return Integer(section, key, default_value ? 1 : 0, "0 (no) or 1 (yes)") != 0;
  }
  // "<file>, line N: key=value in [Section] is not a valid value; key takes <accepts>".
  Error Refused(const char* section, const char* key, const std::string& value,
                const std::string& accepts) const {
    return Exception(Concat({AbsolutePath(ini_.path()), ", line ",
                             std::to_string(ini_.LineOf(section, key)), ": ", key, "=",
                             ShowControlCharacters(value), " in [", section,
                             "] is not a valid value; ", key, " takes ", accepts}));
  }

 private:
  // Every key read is one that the warnings about unknown keys know.
  static void RequireKnown(const char* section, const char* key) {
    if (!IsKnownSettingsKey(section, key))
      throw std::logic_error(Concat({"settings key [", section, "] ", key,
                                     " is read but missing from settings/settings_keys.cc"}));
  }
  const IniFile& ini_;
};

// Without a request: the stored password, decrypted (an error of the cipher
// ends the load). With one: store it (an empty password deletes the key),
// write the file, and use the new password as given.
void PasswordStep(IniFile& ini, const char* section, const PasswordChange& change,
                  std::string& password, const char* key = "Password") {
  if (!change.set) {
    const KeyReader keys(ini);
    const std::string stored = keys.RawText(section, key, "");
    // A reference instead of the cipher text ("${file:/run/secrets/smtp}")
    // gives the password itself; a cipher text holds no "${".
    if (HasEnvironmentReference(stored))
      password = keys.Expanded(section, key, stored);
    else if (!stored.empty())
      password = DecryptPassword(stored, kSettingsPassphrase);
    return;
  }
  if (change.password.empty())
    ini.DeleteKey(section, key);
  else
    ini.WriteString(section, key, EncryptPassword(change.password, kSettingsPassphrase));
  ini.Save();
  password = change.password;
}

constexpr char kPort[] = "a port number, such as 22";

void ReadServer(const KeyReader& keys, const char* section, bool has_port, int32_t port_default,
                ServerSettings& server) {
  server.server = keys.Text(section, "Server", "");
  if (has_port) server.port = keys.Integer(section, "Port", port_default, kPort);
  server.login = keys.Text(section, "Login", "");
}

}  // namespace

Settings ReadSettings(const std::string& folder, const PasswordChange& mail,
                      const PasswordChange& sftp, const PasswordChange& http,
                      const PasswordChange& http_proxy, const PasswordChange& ftp,
                      const PasswordChange& s3_secret) {
  const std::string path = folder + "settings.ini";
  IniFile ini(path);
  if (!ini.existed()) {
    for (const DefaultRow& row : kCreationDefaults) ini.WriteString(row.section, row.key, row.value);
    try {
      ini.Save();
    } catch (const Error& e) {
      // Most often the folder: an account without a home of its own.
      throw Exception(e.message() + ". OSTREVANE_HOME names the folder of settings.ini: set it "
                                    "to a folder this user may write");
    }
  }

  Settings s;
  s.path = AbsolutePath(path);
  // The 8-bit code page turns passwords into cipher bytes, so it is set
  // before any password is read or written. A settings.ini in that code page
  // (no mark, not UTF-8) is decoded again with it; without one, such a file
  // is refused, as every other text file is.
  {
    const KeyReader keys(ini);
    s.ansi_codepage = keys.Text("Ostrevane", "ansi_codepage", "");
    try {
      SetAnsiCodePage(s.ansi_codepage);
    } catch (const Error&) {
      throw keys.Refused("Ostrevane", "ansi_codepage", s.ansi_codepage,
                         "a code page that \"iconv -l\" lists, such as CP1252");
    }
  }
  if (ini.encoding() == IniEncoding::kAnsi) {
    ini = IniFile(path);
    if (ini.text_error()) throw *ini.text_error();
  }
  s.warnings = SettingsFileWarnings(ini);
  const KeyReader keys(ini);

  constexpr char kSeconds[] = "a whole number of seconds, such as 10";
  s.connection_timeout = keys.Integer("Ostrevane", "connection_timeout", 5, kSeconds);
  s.command_timeout = keys.Integer("Ostrevane", "command_timeout", 10, kSeconds);
  // Not written to a new file, like ansi_codepage: a new settings.ini keeps
  // the keys it always had.
  s.delivery_timeout = keys.Integer("Ostrevane", "delivery_timeout", 600,
                                    "a whole number of seconds, such as 600 (0: no limit)");
  s.job_timeout = std::max(0, keys.Integer("Ostrevane", "job_timeout", 0,
                                           "a whole number of seconds, such as 3600 (0: no limit)"));
  s.delivery_retries = std::max(0, keys.Integer("Ostrevane", "delivery_retries", 0,
                                                "a whole number of tries, such as 3"));
  s.delivery_retry_delay =
      std::max(0, keys.Integer("Ostrevane", "delivery_retry_delay", 30, kSeconds));
  s.log_dir = keys.Text("Ostrevane", "log_dir", "log");
  s.thread_count = keys.Integer("Ostrevane", "thread_count", 5,
                                "a whole number of workers, such as 5");
  if (s.thread_count < 1) s.thread_count = 1;
  // Read only, like delivery_timeout. Anything but the two names is a
  // mistake: a log in an encoding nobody asked for would go unread.
  const std::string log_encoding = Trim(keys.Text("Ostrevane", "log_encoding", "utf-16le"));
  if (IEquals(log_encoding, "utf-8")) {
    s.log_utf8 = true;
  } else if (!IEquals(log_encoding, "utf-16le")) {
    throw keys.Refused("Ostrevane", "log_encoding", log_encoding, "utf-16le or utf-8");
  }
  // Read only. A locale this machine lacks would leave the formats to the
  // environment again, which is what the key is there to prevent.
  s.format_locale = Trim(keys.Text("Ostrevane", "format_locale", ""));
  if (!s.format_locale.empty() && !LocaleIsInstalled(s.format_locale))
    throw keys.Refused("Ostrevane", "format_locale", s.format_locale,
                       "a locale this machine has (\"locale -a\" lists them), such as "
                       "C.UTF-8 or de_DE.UTF-8");

  // Read only: where each run leaves its metrics for monitoring; empty: none.
  s.metrics_file = Trim(keys.Text("Ostrevane", "metrics_file", ""));

  MailSettings& m = s.mail;
  m.subject = keys.Text("Mail", "Subject", "Ostrevane Message");
  m.sender = keys.Text("Mail", "Sender", "Ostrevane");
  m.tls_mode = static_cast<uint8_t>(
      keys.Integer("Mail", "TLS", 0,
                   "a number: 0 no TLS, 1 TLS from the first byte, 2 STARTTLS required, "
                   "3 STARTTLS when offered") &
      0xFF);
  m.login = keys.Text("Mail", "Login", "");
  m.server = keys.Text("Mail", "SMTPServer", "");
  m.port = keys.Integer("Mail", "SMTPPort", 25, "a port number, such as 25");
  // Read only, like delivery_timeout: a new settings.ini does not list it.
  m.report_max_records = keys.Integer("Mail", "ReportMaxRecords", kDefaultReportMaxRecords,
                                      "a number of records, 0 for any number");
  PasswordStep(ini, "Mail", mail, m.password);

  ReadServer(keys, "SFTP", true, 22, s.sftp);
  s.sftp.key_file = keys.Text("SFTP", "KeyFile", "");
  s.sftp.known_hosts = keys.Text("SFTP", "KnownHosts", "");
  PasswordStep(ini, "SFTP", sftp, s.sftp.password);

  ReadServer(keys, "HTTP", false, 0, s.http);
  PasswordStep(ini, "HTTP", http, s.http.password);

  ReadServer(keys, "HTTPProxy", true, 8080, s.http_proxy);
  s.http_proxy.auth = keys.Flag("HTTPProxy", "Auth", false);
  PasswordStep(ini, "HTTPProxy", http_proxy, s.http_proxy.password);

  ReadServer(keys, "FTP", true, 8080, s.ftp);
  s.ftp_tls = keys.Integer("FTP", "TLS", 0,
                           "a number: 0 no TLS, 1 AUTH TLS required, 2 implicit TLS");
  PasswordStep(ini, "FTP", ftp, s.ftp.password);

  // Read only, like delivery_timeout: a new settings.ini has no S3 section.
  S3Settings& o = s.s3;
  o.endpoint = keys.Text("S3", "Endpoint", "");
  o.region = keys.Text("S3", "Region", o.region.c_str());
  o.bucket = keys.Text("S3", "Bucket", "");
  o.path_style = keys.Flag("S3", "PathStyle", false);
  o.access_key = keys.Text("S3", "AccessKey", "");
  o.multipart_threshold_mib = keys.Integer("S3", "MultipartThreshold", o.multipart_threshold_mib,
                                           "a size in MiB, such as 64");
  o.part_size_mib = keys.Integer("S3", "PartSize", o.part_size_mib, "a size in MiB, such as 16");
  PasswordStep(ini, "S3", s3_secret, o.secret, "Secret");

  // One level only, relative to the working directory; a failure shows when
  // the first file in the folder cannot be created.
  if (!s.log_dir.empty() && !DirectoryExists(s.log_dir))
    ::mkdir(NormalizePath(s.log_dir).c_str(), 0777);
  return s;
}

}  // namespace ostrevane
