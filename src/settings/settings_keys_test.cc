#include "settings/settings_keys.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;
using testing::WriteFile;

// The lines of settings.ini that look meant but are ignored each give one
// warning naming the line and the nearest known name; a file in the form
// the program writes, with every key it knows, gives none.
TEST(SettingsKeysTest, IgnoredLinesAreNamedWithTheClosestKnownName) {
  struct {
    std::string file;
    std::vector<std::string> warnings;  // after "<path>, line "
  } cases[] = {
      {"[Ostrevane]\nconnection_timeout=5\ncommand_timeout=10\nlog_dir=log\nthread_count=5\n"
       "delivery_timeout=600\ndelivery_retries=1\ndelivery_retry_delay=30\nansi_codepage=\n"
       "log_encoding=utf-8\nformat_locale=C\n"
       "[Mail]\nSubject=s\nSender=s\nLogin=\nTLS=0\nSMTPServer=\nSMTPPort=25\nPassword=00\n"
       "[SFTP]\nServer=\nPort=22\nLogin=\nPassword=00\nKeyFile=\nKnownHosts=\n"
       "[HTTP]\nServer=\nLogin=\nPassword=00\n"
       "[HTTPProxy]\nServer=\nPort=22\nLogin=\nAuth=0\nPassword=00\n"
       "; a comment\n# another\n\n"
       "[FTP]\nServer=\nPort=21\nLogin=\nTLS=0\nPassword=00\n",
       {}},
      {"[ostrevane]\nTHREAD_COUNT=2\n[HTTPPROXY]\nauth=1\n", {}},  // any case
      {"[Ostrevane]\nthread_cout=3\nlog_encodng=utf-8\n",
       {"2: unknown key \"thread_cout\" in [Ostrevane] (did you mean \"thread_count\"?); the "
        "line is ignored",
        "3: unknown key \"log_encodng\" in [Ostrevane] (did you mean \"log_encoding\"?); the "
        "line is ignored"}},
      {"[Mial]\nSMTPServer=mx\n[Mail]\nSMTPServr=mx\n",
       {"1: unknown section [Mial] (did you mean [Mail]?); its keys are ignored",
        "4: unknown key \"SMTPServr\" in [Mail] (did you mean \"SMTPServer\"?); the line is "
        "ignored"}},
      {"[Ostrevane]\nSMTPServer=mx\n[HTTP]\nPort=80\n[Extras]\nx=1\n",
       {"2: unknown key \"SMTPServer\" in [Ostrevane] (it belongs in [Mail]); the line is "
        "ignored",
        "4: unknown key \"Port\" in [HTTP]; the line is ignored",
        "5: unknown section [Extras]; its keys are ignored"}},
      {"log_dir=x\n[Mail]\nSMTPServer mx.example.com\nTLS=1\ntls=2\n[mail]\nLogin=a\n",
       {"1: key \"log_dir\" stands before the first [section]; the line is ignored",
        "3: the line \"SMTPServer mx.example.com\" is no key=value and no [section]; it is "
        "ignored",
        "5: key \"tls\" is given a second time in [Mail]; only the first one (line 4) counts",
        "6: section [mail] is given a second time; only the first one (line 2) counts, so the "
        "keys below this line are ignored"}},
  };
  TempDir dir;
  const std::string path = dir / "settings.ini";
  for (const auto& c : cases) {
    WriteFile(path, c.file);
    std::vector<std::string> expected;
    for (const std::string& w : c.warnings) expected.push_back(path + ", line " + w);
    EXPECT_EQ(SettingsFileWarnings(IniFile(path)), expected) << c.file;
  }
}

}  // namespace
}  // namespace ostrevane
