#include "settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <gtest/gtest.h>

#include "common/codepage.h"
#include "common/error.h"
#include "common/text.h"
#include "settings/cipher.h"
#include "settings/ini_file.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kCreatedFile[] =
    "[Ostrevane]\n"
    "connection_timeout=5\n"
    "command_timeout=10\n"
    "log_dir=log\n"
    "thread_count=5\n"
    "[Mail]\n"
    "Subject=Ostrevane report\n"
    "Sender=Ostrevane\n"
    "Login=\n"
    "TLS=0\n"
    "SMTPServer=\n"
    "SMTPPort=25\n"
    "[SFTP]\n"
    "Server=\n"
    "Port=22\n"
    "Login=\n"
    "[HTTP]\n"
    "Server=\n"
    "Login=\n"
    "[HTTPProxy]\n"
    "Server=\n"
    "Port=22\n"
    "Login=\n"
    "Auth=0\n";

enum Section { kMail, kSftp, kHttp, kHttpProxy, kFtp, kS3 };
const char* const kSectionNames[] = {"Mail", "SFTP", "HTTP", "HTTPProxy", "FTP", "S3"};
// The key that holds a section's stored password.
const char* KeyOf(Section section) { return section == kS3 ? "Secret" : "Password"; }

std::string& PasswordOf(Settings& s, Section section) {
  switch (section) {
    case kMail: return s.mail.password;
    case kSftp: return s.sftp.password;
    case kHttp: return s.http.password;
    case kHttpProxy: return s.http_proxy.password;
    case kFtp: return s.ftp.password;
    case kS3: return s.s3.secret;
  }
  return s.mail.password;
}

// Runs each test in its own working directory (the log folder is relative
// to it) with settings.ini in `home`.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directory(home());
  }
  void TearDown() override {
    std::filesystem::current_path(saved_cwd_);
    SetAnsiCodePage("");
  }

  std::string home() const { return dir_ / "home"; }
  std::string ini_path() const { return dir_ / "home/settings.ini"; }

  Settings Load(std::optional<Section> section = std::nullopt, const std::string& pw = "") {
    PasswordChange c[6];
    if (section) c[*section] = {true, pw};
    return ReadSettings(home() + "/", c[0], c[1], c[2], c[3], c[4], c[5]);
  }
  // "Class: message" of the error a load throws, "" when it succeeds.
  std::string LoadError(std::optional<Section> section = std::nullopt,
                        const std::string& pw = "") {
    try {
      Load(section, pw);
    } catch (const Error& e) {
      return e.class_name() + ": " + e.message();
    }
    return "";
  }

  TempDir dir_;
  std::filesystem::path saved_cwd_;
};

TEST_F(SettingsTest, MissingFileIsCreatedWithDefaultsInOrder) {
  Settings s = Load();
  EXPECT_EQ(ReadFile(ini_path()), kCreatedFile);
  struct stat st;
  ASSERT_EQ(::stat(ini_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_EQ(s.connection_timeout, 5);
  EXPECT_EQ(s.command_timeout, 10);
  EXPECT_EQ(s.delivery_timeout, 600);  // read, never written
  EXPECT_EQ(s.delivery_retries, 0);
  EXPECT_EQ(s.delivery_retry_delay, 30);
  EXPECT_EQ(s.ftp_tls, 0);
  EXPECT_EQ(s.sftp.key_file, "");
  EXPECT_EQ(s.sftp.known_hosts, "");
  EXPECT_EQ(s.log_dir, "log");
  EXPECT_EQ(s.thread_count, 5);
  EXPECT_EQ(s.ansi_codepage, "");
  EXPECT_EQ(s.mail.subject, "Ostrevane report");  // the written value, not the read default
  EXPECT_EQ(s.mail.sender, "Ostrevane");
  EXPECT_EQ(s.mail.port, 25);
  EXPECT_EQ(s.mail.tls_mode, 0);
  EXPECT_EQ(s.sftp.port, 22);
  EXPECT_EQ(s.http_proxy.port, 22);
  EXPECT_FALSE(s.http_proxy.auth);
  EXPECT_EQ(s.ftp.port, 8080);  // FTP is not written: read defaults
  EXPECT_EQ(s.ftp.server, "");
  EXPECT_EQ(s.ftp.password, "");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "log"));  // relative to the working folder
}

TEST_F(SettingsTest, EmptyFileGetsReadDefaultsAndStaysEmpty) {
  WriteFile(ini_path(), "");
  Settings s = Load();
  EXPECT_EQ(ReadFile(ini_path()), "");
  EXPECT_EQ(s.mail.subject, "Ostrevane Message");
  EXPECT_EQ(s.http_proxy.port, 8080);
  EXPECT_FALSE(s.http_proxy.auth);
  EXPECT_EQ(s.thread_count, 5);
  EXPECT_EQ(s.connection_timeout, 5);
  EXPECT_EQ(s.command_timeout, 10);
}

TEST_F(SettingsTest, ValueConversions) {
  struct {
    std::string file;
    std::function<bool(const Settings&)> check;
    const char* what;
  } cases[] = {
      {"[Ostrevane]\nthread_count=0\n", [](auto& s) { return s.thread_count == 1; }, "0 -> 1"},
      {"[Ostrevane]\nthread_count=-3\n", [](auto& s) { return s.thread_count == 1; }, "-3 -> 1"},
      {"[ostrevane]\nTHREAD_COUNT=0x10\n", [](auto& s) { return s.thread_count == 16; }, "hex"},
      {"[Ostrevane]\ncommand_timeout=-4\n", [](auto& s) { return s.command_timeout == -4; },
       "no floor on time-outs"},
      {"[Ostrevane]\nDelivery_Timeout=30\n", [](auto& s) { return s.delivery_timeout == 30; },
       "delivery_timeout"},
      {"[Ostrevane]\ndelivery_timeout=\n", [](auto& s) { return s.delivery_timeout == 600; },
       "an empty value is the default"},
      {"[Ostrevane]\ndelivery_retries=3\ndelivery_retry_delay=5\n",
       [](auto& s) { return s.delivery_retries == 3 && s.delivery_retry_delay == 5; }, "retries"},
      {"[Ostrevane]\ndelivery_retries=-2\ndelivery_retry_delay=-1\n",
       [](auto& s) { return s.delivery_retries == 0 && s.delivery_retry_delay == 0; },
       "no negative retries or waits"},
      {"[Ostrevane]\ndelivery_retries=\ndelivery_retry_delay=\n",
       [](auto& s) { return s.delivery_retries == 0 && s.delivery_retry_delay == 30; },
       "retry defaults"},
      {"[FTP]\ntls=2\n", [](auto& s) { return s.ftp_tls == 2; }, "FTP TLS"},
      {"[S3]\nEndpoint=https://h\nregion=eu-west-3\nBucket=b\nPathStyle=1\nAccessKey=AK\n"
       "MultipartThreshold=100\nPartSize=8\n",
       [](auto& s) {
         const S3Settings& o = s.s3;
         return o.endpoint == "https://h" && o.region == "eu-west-3" && o.bucket == "b" &&
                o.path_style && o.access_key == "AK" && o.multipart_threshold_mib == 100 &&
                o.part_size_mib == 8 && o.secret.empty();
       },
       "S3"},
      {"[S3]\nBucket=b\n",
       [](auto& s) {
         const S3Settings& o = s.s3;
         return o.region == "us-east-1" && !o.path_style && o.multipart_threshold_mib == 64 &&
                o.part_size_mib == 16;
       },
       "S3 defaults"},
      {"[SFTP]\nKeyFile=/k\nknownhosts=~/kh\n",
       [](auto& s) { return s.sftp.key_file == "/k" && s.sftp.known_hosts == "~/kh"; }, "SFTP keys"},
      {"[Mail]\nTLS=257\n", [](auto& s) { return s.mail.tls_mode == 1; }, "TLS low 8 bits"},
      {"[HTTPProxy]\nAuth=1\n", [](auto& s) { return s.http_proxy.auth; }, "Auth"},
      {"[HTTPProxy]\nauth=1\n", [](auto& s) { return s.http_proxy.auth; }, "auth"},
      {"[HTTPProxy]\nAUTH=7\n", [](auto& s) { return s.http_proxy.auth; }, "AUTH"},
      {"[HTTP]\nPort=99\n", [](auto& s) { return s.http.port == 0; }, "HTTP has no port"},
      {"[FTP]\nServer=f\nPort=21\nLogin=l\n",
       [](auto& s) { return s.ftp.server == "f" && s.ftp.port == 21 && s.ftp.login == "l"; },
       "FTP"},
  };
  for (const auto& row : cases) {
    WriteFile(ini_path(), row.file);
    EXPECT_TRUE(row.check(Load())) << row.what;
    EXPECT_EQ(ReadFile(ini_path()), row.file) << row.what;
  }
}

// A value that is given but does not parse stops every start: read as the
// default it would run the night with settings nobody chose.
TEST_F(SettingsTest, ValuesThatDoNotParseAreRefusedNamingKeyValueAndWhatItTakes) {
  struct {
    std::string file;
    std::string error;  // after "Exception: <path>, line "
  } cases[] = {
      {"[Ostrevane]\ncommand_timeout=10s\n",
       "2: command_timeout=10s in [Ostrevane] is not a valid value; command_timeout takes a "
       "whole number of seconds, such as 10"},
      {"[ostrevane]\nlog_dir=x\nTHREAD_COUNT=abc\n",
       "3: thread_count=abc in [Ostrevane] is not a valid value; thread_count takes a whole "
       "number of workers, such as 5"},
      {"[Ostrevane]\ndelivery_retries=three\n",
       "2: delivery_retries=three in [Ostrevane] is not a valid value; delivery_retries takes a "
       "whole number of tries, such as 3"},
      {"[Mail]\nTLS=yes\n",
       "2: TLS=yes in [Mail] is not a valid value; TLS takes a number: 0 no TLS, 1 TLS from the "
       "first byte, 2 STARTTLS required, 3 STARTTLS when offered"},
      {"[Mail]\nSMTPPort=4294967296\n",  // beyond 32 bits
       "2: SMTPPort=4294967296 in [Mail] is not a valid value; SMTPPort takes a port number, such "
       "as 25"},
      {"[HTTPProxy]\nAuth=yes\n",
       "2: Auth=yes in [HTTPProxy] is not a valid value; Auth takes 0 (no) or 1 (yes)"},
      {"[FTP]\nPort=21/tcp\n",
       "2: Port=21/tcp in [FTP] is not a valid value; Port takes a port number, such as 22"},
      {"[Ostrevane]\nlog_encoding=latin1\n",
       "2: log_encoding=latin1 in [Ostrevane] is not a valid value; log_encoding takes utf-16le "
       "or utf-8"},
      {"[Ostrevane]\nansi_codepage=NO-SUCH-PAGE\n",
       "2: ansi_codepage=NO-SUCH-PAGE in [Ostrevane] is not a valid value; ansi_codepage takes a "
       "code page that \"iconv -l\" lists, such as CP1252"},
      {"[Ostrevane]\nformat_locale=xx_XX.UTF-8\n",
       "2: format_locale=xx_XX.UTF-8 in [Ostrevane] is not a valid value; format_locale takes a "
       "locale this machine has (\"locale -a\" lists them), such as C.UTF-8 or de_DE.UTF-8"},
  };
  for (const auto& row : cases) {
    WriteFile(ini_path(), row.file);
    EXPECT_EQ(LoadError(), "Exception: " + ini_path() + ", line " + row.error) << row.file;
    EXPECT_EQ(ReadFile(ini_path()), row.file) << row.file;
  }
}

// Servers, logins and passwords from the environment or a secret file (a
// settings.ini shared through a Kubernetes Secret or kept in version
// control holds only the references); the file keeps them as written.
TEST_F(SettingsTest, ValuesAndPasswordsFromTheEnvironment) {
  ::setenv("OSTREVANE_TEST_SMTP", "mx.example.com", 1);
  ::unsetenv("OSTREVANE_TEST_UNSET");
  WriteFile(dir_ / "smtp_pw", "Mail Pw;1\n");
  const std::string file =
      "[Ostrevane]\nmetrics_file= /var/lib/prom/ostrevane.prom \n[Mail]\n"
      "SMTPServer=${OSTREVANE_TEST_SMTP}\nPassword=${file:" +
      dir_ / "smtp_pw" + "}\n[FTP]\nLogin=a$${b}\n";
  WriteFile(ini_path(), file);
  const Settings s = Load();
  EXPECT_EQ(s.mail.server, "mx.example.com");
  EXPECT_EQ(s.mail.password, "Mail Pw;1");
  EXPECT_EQ(s.ftp.login, "a${b}");
  EXPECT_EQ(s.metrics_file, "/var/lib/prom/ostrevane.prom");
  EXPECT_EQ(ReadFile(ini_path()), file);

  for (const std::string& line : {std::string("[HTTP]\nServer=http://${OSTREVANE_TEST_UNSET}/in\n"),
                                  std::string("[HTTP]\nPassword=${OSTREVANE_TEST_UNSET}\n")}) {
    WriteFile(ini_path(), line);
    const std::string key = line.substr(7, line.find('=') - 7);
    EXPECT_EQ(LoadError(), "Exception: " + ini_path() + ", line 2: " + key +
                               " in [HTTP]: the environment variable OSTREVANE_TEST_UNSET is not "
                               "set (${OSTREVANE_TEST_UNSET})")
        << line;
  }
}

TEST_F(SettingsTest, UnknownNamesAreWarningsAndTheRestIsRead) {
  WriteFile(ini_path(), "[Ostrevane]\nthread_cout=3\nformat_locale=C\n[Mial]\nTLS=1\n");
  const Settings s = Load();
  EXPECT_EQ(s.thread_count, 5);
  EXPECT_EQ(s.format_locale, "C");
  EXPECT_EQ(s.path, ini_path());
  ASSERT_EQ(s.warnings.size(), 2u);
  EXPECT_EQ(s.warnings[0].rfind(ini_path() + ", line 2: unknown key \"thread_cout\"", 0), 0u)
      << s.warnings[0];
  EXPECT_EQ(s.warnings[1].rfind(ini_path() + ", line 4: unknown section [Mial]", 0), 0u)
      << s.warnings[1];
}

TEST_F(SettingsTest, PasswordCommandsWriteOrDeleteExactlyOneKey) {
  for (Section section : {kMail, kSftp, kHttp, kHttpProxy, kFtp, kS3}) {
    const char* name = kSectionNames[section];
    const char* key = KeyOf(section);
    std::filesystem::remove(ini_path());
    // On a machine without settings.ini the command first creates it.
    Settings set = Load(section, "pa ss\xC3\xA9");
    EXPECT_EQ(PasswordOf(set, section), "pa ss\xC3\xA9") << name;

    IniFile ini(ini_path());
    const std::string stored = ini.ReadString(name, key, "");
    EXPECT_EQ(stored, EncryptPassword("pa ss\xC3\xA9", kSettingsPassphrase)) << name;
    for (Section other : {kMail, kSftp, kHttp, kHttpProxy, kFtp, kS3}) {
      if (other != section) {
        EXPECT_EQ(ini.ReadString(kSectionNames[other], KeyOf(other), "-"), "-") << name << other;
      }
    }
    // Nothing but that one key was added.
    ini.DeleteKey(name, key);
    std::string without = ini.Serialize();
    if (section == kFtp || section == kS3)
      without = ReplaceAll(without, "[" + std::string(name) + "]\n", "");
    EXPECT_EQ(without, kCreatedFile) << name;

    // The next start decrypts it; the other sections stay without a password.
    Settings next = Load();
    for (Section s : {kMail, kSftp, kHttp, kHttpProxy, kFtp, kS3})
      EXPECT_EQ(PasswordOf(next, s), s == section ? "pa ss\xC3\xA9" : "") << name;

    // An empty password deletes the key and changes nothing else.
    const std::string with_key = ReadFile(ini_path());
    Settings cleared = Load(section, "");
    EXPECT_EQ(PasswordOf(cleared, section), "") << name;
    EXPECT_EQ(ReadFile(ini_path()), ReplaceAll(with_key, key + ("=" + stored) + "\n", ""))
        << name;
  }
}

TEST_F(SettingsTest, StoredPasswordsOfAnotherInstallationDecrypt) {
  // Written elsewhere, lower-case digits, UTF-16LE file with CR LF.
  std::string file = "\xFF\xFE";
  AppendUtf16Le(file,
                "[Mail]\r\nPassword=596676b17206c131225a5d58024eda65\r\n"
                "[FTP]\r\nPassword=8BAE939EF7428C64E4BD6AE7D4B7703C\r\n");
  WriteFile(ini_path(), file);
  Settings s = Load();
  EXPECT_EQ(s.mail.password, "abc");
  EXPECT_EQ(s.ftp.password, "exactly16bytes!!");
  // A command rewrites it in its own encoding.
  Load(kSftp, "x");
  const std::string after = ReadFile(ini_path());
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(IniFile(ini_path()).ReadString("sftp", "password", ""),
            EncryptPassword("x", kSettingsPassphrase));
}

TEST_F(SettingsTest, DamagedPasswordStopsTheLoad) {
  const std::string good = EncryptPassword("secret", kSettingsPassphrase);
  struct {
    std::string stored;
    const char* what;
  } cases[] = {
      {good.substr(0, 31), "odd length, 15 bytes"},
      {good + "00", "17 bytes"},
  };
  for (const auto& row : cases) {
    const std::string file = "[Mail]\nPassword=" + row.stored + "\n";
    WriteFile(ini_path(), file);
    const std::string expected = "EAESError: Invalid buffer size for decryption";
    EXPECT_EQ(LoadError(), expected) << row.what;
    // A command for a later section is not carried out...
    EXPECT_EQ(LoadError(kSftp, "new"), expected) << row.what;
    EXPECT_EQ(ReadFile(ini_path()), file) << row.what;
    // ...but the mail command does not read the damaged value and replaces it.
    EXPECT_EQ(LoadError(kMail, "new"), "") << row.what;
    EXPECT_EQ(Load().mail.password, "new") << row.what;
  }
  // 33 digits: the last one is dropped and the rest decrypts.
  WriteFile(ini_path(), "[Mail]\nPassword=" + good + "F\n");
  EXPECT_EQ(Load().mail.password, "secret");
  // A password longer than 1008 bytes is cut at 2047 digits when read back.
  EXPECT_EQ(LoadError(kHttp, std::string(1009, 'p')), "");
  EXPECT_EQ(LoadError(), "EAESError: Invalid buffer size for decryption");
}

TEST_F(SettingsTest, UnwritableOrUnreadableSettings) {
  // Read-only file: a normal start reads it; a command cannot write it.
  WriteFile(ini_path(), kCreatedFile);
  ::chmod(ini_path().c_str(), 0444);
  EXPECT_EQ(LoadError(), "");
  EXPECT_EQ(LoadError(kMail, "pw"),
            "Exception: Unable to write to " + ini_path() + ": Permission denied");
  EXPECT_EQ(ReadFile(ini_path()), kCreatedFile);
  ::chmod(ini_path().c_str(), 0600);

  // Read-only folder (the process cannot create files in /proc even as root).
  try {
    ReadSettings("/proc/", {}, {}, {}, {}, {});
    ADD_FAILURE() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(),
              "Unable to write to /proc/settings.ini: No such file or directory. "
              "OSTREVANE_HOME names the folder of settings.ini: set it to a folder this user "
              "may write");
  }
  if (::geteuid() != 0) {
    ::chmod(home().c_str(), 0555);
    EXPECT_EQ(LoadError(), "");
    EXPECT_EQ(LoadError(kFtp, "pw"),
              "Exception: Unable to write to " + ini_path() + ": Permission denied");
    ::chmod(home().c_str(), 0755);
    EXPECT_EQ(ReadFile(ini_path()), kCreatedFile);
  }

  // Unreadable: no settings are made up, nothing is written.
  std::filesystem::remove(ini_path());
  std::filesystem::create_directory(ini_path());
  EXPECT_EQ(LoadError(), "Exception: Unable to read " + ini_path() + ": Is a directory");
  EXPECT_TRUE(std::filesystem::is_empty(ini_path()));
}

TEST_F(SettingsTest, LogFolderIsCreatedOneLevelDeep) {
  WriteFile(ini_path(), "[Ostrevane]\nlog_dir=outer/inner\n");
  EXPECT_EQ(LoadError(), "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "outer"));

  WriteFile(ini_path(), "[Ostrevane]\nlog_dir=outer\\\n");  // Windows delimiter
  EXPECT_EQ(Load().log_dir, "outer\\");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "outer"));

  WriteFile(ini_path(), "[Ostrevane]\nlog_dir=" + (dir_ / "abs") + "\n");
  Load();
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "abs"));
}

TEST_F(SettingsTest, AnsiCodePageAppliesToFileAndPasswords) {
  // A CP1252 file (not UTF-8) holding a CP1252-encrypted password of "café".
  const std::string file =
      "[Ostrevane]\nansi_codepage=CP1252\n[Mail]\nSubject=caf\xE9\n"
      "Password=77BC885ED92C19A999DA04807C3D78F8\n";
  WriteFile(ini_path(), file);
  Settings s = Load();
  EXPECT_EQ(s.ansi_codepage, "CP1252");
  EXPECT_EQ(AnsiCodePage(), "CP1252");
  EXPECT_EQ(s.mail.subject, "caf\xC3\xA9");
  EXPECT_EQ(s.mail.password, "caf\xC3\xA9");
  // Rewriting keeps the CP1252 line as it was.
  Load(kHttp, "h");
  EXPECT_NE(ReadFile(ini_path()).find("Subject=caf\xE9\n"), std::string::npos);

  // Without ansi_codepage such a file is refused, naming the first byte
  // that is not UTF-8.
  WriteFile(ini_path(), "[Mail]\r\nSubject=caf\xE9\r\n");
  EXPECT_EQ(LoadError(),
            "Exception: File \"" + ini_path() +
                "\" is not valid UTF-8: line 2, byte offset 19 (byte 0xE9). Save it as UTF-8, or "
                "name the code page it is written in with ansi_codepage in section [Ostrevane] "
                "of settings.ini (for example ansi_codepage=CP1252).");
}

}  // namespace
}  // namespace ostrevane
