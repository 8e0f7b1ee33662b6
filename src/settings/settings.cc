#include "settings/settings.h"

#include <sys/stat.h>

#include <algorithm>

#include "common/codepage.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "settings/cipher.h"
#include "settings/ini_file.h"

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

// Without a request: the stored password, decrypted (an error of the cipher
// ends the load). With one: store it (an empty password deletes the key),
// write the file, and use the new password as given.
void PasswordStep(IniFile& ini, const char* section, const PasswordChange& change,
                  std::string& password) {
  if (!change.set) {
    const std::string stored = ini.ReadString(section, "Password", "");
    if (!stored.empty()) password = DecryptPassword(stored, kSettingsPassphrase);
    return;
  }
  if (change.password.empty())
    ini.DeleteKey(section, "Password");
  else
    ini.WriteString(section, "Password", EncryptPassword(change.password, kSettingsPassphrase));
  ini.Save();
  password = change.password;
}

void ReadServer(const IniFile& ini, const char* section, bool has_port, int32_t port_default,
                ServerSettings& server) {
  server.server = ini.ReadString(section, "Server", "");
  if (has_port) server.port = ini.ReadInteger(section, "Port", port_default);
  server.login = ini.ReadString(section, "Login", "");
}

}  // namespace

Settings ReadSettings(const std::string& folder, const PasswordChange& mail,
                      const PasswordChange& sftp, const PasswordChange& http,
                      const PasswordChange& http_proxy, const PasswordChange& ftp) {
  const std::string path = folder + "settings.ini";
  IniFile ini(path);
  if (!ini.existed()) {
    for (const DefaultRow& row : kCreationDefaults) ini.WriteString(row.section, row.key, row.value);
    ini.Save();
  }

  Settings s;
  s.connection_timeout = ini.ReadInteger("Ostrevane", "connection_timeout", 5);
  s.command_timeout = ini.ReadInteger("Ostrevane", "command_timeout", 10);
  // Not written to a new file, like ansi_codepage: a new settings.ini keeps
  // the keys it always had.
  s.delivery_timeout = ini.ReadInteger("Ostrevane", "delivery_timeout", 600);
  s.job_timeout = std::max(0, ini.ReadInteger("Ostrevane", "job_timeout", 0));
  s.delivery_retries = std::max(0, ini.ReadInteger("Ostrevane", "delivery_retries", 0));
  s.delivery_retry_delay = std::max(0, ini.ReadInteger("Ostrevane", "delivery_retry_delay", 30));
  s.log_dir = ini.ReadString("Ostrevane", "log_dir", "log");
  s.thread_count = ini.ReadInteger("Ostrevane", "thread_count", 5);
  if (s.thread_count < 1) s.thread_count = 1;
  // Read only, like delivery_timeout. Anything but the two names is a
  // mistake: a log in an encoding nobody asked for would go unread.
  const std::string log_encoding = Trim(ini.ReadString("Ostrevane", "log_encoding", "utf-16le"));
  if (IEquals(log_encoding, "utf-8")) {
    s.log_utf8 = true;
  } else if (!IEquals(log_encoding, "utf-16le")) {
    throw Exception("settings.ini, section \"Ostrevane\": log_encoding must be utf-16le or "
                    "utf-8, not \"" + log_encoding + "\"");
  }

  // The 8-bit code page turns passwords into cipher bytes, so it is set
  // before any password is read or written. A settings.ini in that code page
  // (no mark, not UTF-8) is decoded again with it.
  s.ansi_codepage = ini.ReadString("Ostrevane", "ansi_codepage", "");
  SetAnsiCodePage(s.ansi_codepage);
  if (ini.encoding() == IniEncoding::kAnsi && !AnsiIsUtf8()) ini = IniFile(path);

  MailSettings& m = s.mail;
  m.subject = ini.ReadString("Mail", "Subject", "Ostrevane Message");
  m.sender = ini.ReadString("Mail", "Sender", "Ostrevane");
  m.tls_mode = static_cast<uint8_t>(ini.ReadInteger("Mail", "TLS", 0) & 0xFF);
  m.login = ini.ReadString("Mail", "Login", "");
  m.server = ini.ReadString("Mail", "SMTPServer", "");
  m.port = ini.ReadInteger("Mail", "SMTPPort", 25);
  PasswordStep(ini, "Mail", mail, m.password);

  ReadServer(ini, "SFTP", true, 22, s.sftp);
  s.sftp.key_file = ini.ReadString("SFTP", "KeyFile", "");
  s.sftp.known_hosts = ini.ReadString("SFTP", "KnownHosts", "");
  PasswordStep(ini, "SFTP", sftp, s.sftp.password);

  ReadServer(ini, "HTTP", false, 0, s.http);
  PasswordStep(ini, "HTTP", http, s.http.password);

  ReadServer(ini, "HTTPProxy", true, 8080, s.http_proxy);
  s.http_proxy.auth = ini.ReadBool("HTTPProxy", "auth", false);
  PasswordStep(ini, "HTTPProxy", http_proxy, s.http_proxy.password);

  ReadServer(ini, "FTP", true, 8080, s.ftp);
  s.ftp_tls = ini.ReadInteger("FTP", "TLS", 0);
  PasswordStep(ini, "FTP", ftp, s.ftp.password);

  // One level only, relative to the working directory; a failure shows when
  // the first log line cannot be written.
  if (!s.log_dir.empty() && !DirectoryExists(s.log_dir))
    ::mkdir(NormalizePath(s.log_dir).c_str(), 0777);
  return s;
}

}  // namespace ostrevane
