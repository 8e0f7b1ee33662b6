// Retries, SFTP and FTP over TLS wired into list runs: the real executable
// against real local servers.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/server_process.h"
#include "testing/sqlite_db.h"
#include "testing/ssh_server.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::ServerProcess;
using testing::TempDir;
using testing::WriteFile;

class ListRunSecureDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'one'), (2, 'two');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    for (const char* d : {"smtp", "http", "ftp", "ftp-root"}) std::filesystem::create_directories(dir / d);
  }

  testing::ProgramResult Run(const std::vector<std::string>& args, const std::string& list = "") {
    if (!list.empty()) WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram(args, dir.path(), dir.path(),
                               {{"OSTREVANE_CA_FILE", ca_file}});
  }
  // The lines of the output that hold `text`.
  static size_t Lines(const std::string& out, const std::string& text) {
    size_t n = 0;
    for (const std::string& line : SplitLines(out)) n += line.find(text) != std::string::npos;
    return n;
  }

  TempDir dir;
  std::string ca_file;
};

TEST_F(ListRunSecureDeliveryTest, TwoTransientFailuresOfEachTransportAreOutwaited) {
  ServerProcess smtp("smtp_server.py", {"--out", dir / "smtp", "--busy", "2"});
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "503,429,200"});
  ServerProcess ftp("ftp_server.py", {"--out", dir / "ftp", "--root", dir / "ftp-root", "--user",
                                      "bob:pw", "--refuse-stor", "2:421 too many users"});
  // No wait between tries keeps the test quick; the doubling waits are
  // tested with a clock that only pretends to wait.
  WriteFile(dir / "settings.ini",
            "[Ostrevane]\nthread_count=3\ndelivery_retries=3\ndelivery_retry_delay=0\n"
            "[Mail]\nSMTPServer=127.0.0.1\nSMTPPort=" + std::to_string(smtp.port()) +
                "\nSender=batch@example.org\n"
                "[HTTP]\nServer=http://127.0.0.1:" + std::to_string(http.port()) + "/in\n"
                "[FTP]\nServer=127.0.0.1:" + std::to_string(ftp.port()) + "\nLogin=bob\n");
  ASSERT_EQ(Run({"-setftppwd:pw"}).exit_code, 0);
  auto r = Run({"-list:jobs.txt"},
               "-clear -udl:t.udl -sql:items.sql -tocsv:out/m.csv -mail:ops@example.org\n"
               "-clear -udl:t.udl -sql:items.sql -tocsv:out/h.csv -http\n"
               "-clear -udl:t.udl -sql:items.sql -tocsv:out/f.csv -ftp\n");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  for (const char* transport : {"MAIL", "HTTP", "FTP"}) {
    EXPECT_EQ(Lines(r.out, std::string(transport) + " delivery failed, trying again in 0 s (retry 1 of 3)"), 1u)
        << transport << "\n" << r.out;
    EXPECT_EQ(Lines(r.out, std::string(transport) + " delivery failed, trying again in 0 s (retry 2 of 3)"), 1u)
        << transport << "\n" << r.out;
  }
  EXPECT_EQ(Lines(r.out, "[ERROR]"), 0u) << r.out;
  EXPECT_EQ(ReadFile(dir / "ftp-root/f.csv"), ReadFile(dir / "out/f.csv"));
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "OK");
}

TEST_F(ListRunSecureDeliveryTest, APermanentRefusalIsTriedOnce) {
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "403"});
  WriteFile(dir / "settings.ini",
            "[Ostrevane]\ndelivery_retries=3\ndelivery_retry_delay=0\n"
            "[HTTP]\nServer=http://127.0.0.1:" + std::to_string(http.port()) + "/in\n");
  auto r = Run({"-list:jobs.txt"}, "-udl:t.udl -sql:items.sql -tocsv:out/h.csv -http\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(Lines(r.out, "trying again"), 0u) << r.out;
  EXPECT_EQ(Lines(r.out, "403"), 1u) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "http/req-1.head"));
  EXPECT_FALSE(std::filesystem::exists(dir / "http/req-2.head"));
}

TEST_F(ListRunSecureDeliveryTest, FtpOverExplicitAndImplicitTls) {
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  ca_file = cert.cert;
  for (const char* tls : {"1", "2"}) {
    const std::string root = dir / ("ftp-root-" + std::string(tls));
    std::filesystem::create_directories(root + "/in");
    ServerProcess ftp("ftp_server.py", {"--out", dir / "ftp", "--root", root, "--user", "bob:pw",
                                        "--tls", *tls == '1' ? "explicit" : "implicit", "--cert",
                                        cert.cert, "--key", cert.key});
    WriteFile(dir / "settings.ini", "[FTP]\nServer=127.0.0.1:" + std::to_string(ftp.port()) +
                                        "\nLogin=bob\nTLS=" + tls + "\n");
    ASSERT_EQ(Run({"-setftppwd:pw"}).exit_code, 0);
    auto r = Run({"-list:jobs.txt"}, "-udl:t.udl -sql:items.sql -tocsv:out/f.csv -ftpdir:in\n");
    EXPECT_EQ(r.exit_code, 0) << tls << r.out;
    EXPECT_EQ(ReadFile(root + "/in/f.csv"), ReadFile(dir / "out/f.csv")) << tls;
  }
}

TEST_F(ListRunSecureDeliveryTest, SftpWithPasswordOrKeyAndTheTargetTakenByTheNextLine) {
  const std::string why = testing::SshServer::Unavailable();
  if (!why.empty()) GTEST_SKIP() << "SFTP tests skipped: " << why;
  std::filesystem::create_directories(dir / "ssh");
  testing::SshServer ssh(dir / "ssh");
  const std::string settings = "[SFTP]\nServer=127.0.0.1\nPort=" + std::to_string(ssh.port()) +
                               "\nLogin=" + testing::kSftpTestUser + "\nKnownHosts=" +
                               dir / "known_hosts" + "\n";
  WriteFile(dir / "known_hosts", ssh.known_hosts_line() + "\n");
  const std::string list = "-udl:t.udl -sql:items.sql -tocsv:out/a.csv -sftp:" +
                           ssh.upload_folder() + "\n-sql:items.sql -tocsv:out/b.csv\n";
  const std::string sent = "files sent by SFTP to 127.0.0.1(" + ssh.upload_folder() + ")";

  WriteFile(dir / "settings.ini", settings);
  ASSERT_EQ(Run({"-setsftppwd:" + ssh.password()}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir / "settings.ini").find(ssh.password()), std::string::npos);
  auto r = Run({"-list:jobs.txt"}, list);
  EXPECT_EQ(r.exit_code, 0) << r.out << ssh.log();
  EXPECT_EQ(Lines(r.out, sent), 2u) << r.out;
  EXPECT_EQ(ReadFile(ssh.upload_folder() + "/a.csv"), ReadFile(dir / "out/a.csv"));
  EXPECT_EQ(ReadFile(ssh.upload_folder() + "/b.csv"), ReadFile(dir / "out/b.csv"));
  EXPECT_EQ(r.out.find(ssh.password()), std::string::npos);

  // A key instead of the password.
  std::filesystem::remove(ssh.upload_folder() + "/a.csv");
  WriteFile(dir / "settings.ini", settings + "KeyFile=" + ssh.client_key() + "\n");
  r = Run({"-list:jobs.txt"}, list);
  EXPECT_EQ(r.exit_code, 0) << r.out << ssh.log();
  EXPECT_EQ(ReadFile(ssh.upload_folder() + "/a.csv"), ReadFile(dir / "out/a.csv"));

  // An unknown host key fails both jobs and says how to accept the key.
  WriteFile(dir / "known_hosts", "");
  r = Run({"-list:jobs.txt"}, list);
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(Lines(r.out, "[ERROR]"), 2u) << r.out;
  EXPECT_EQ(Lines(r.out, ssh.known_hosts_line()), 2u) << r.out;
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
}

}  // namespace
}  // namespace ostrevane
