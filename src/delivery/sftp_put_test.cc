#include "delivery/sftp_put.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/error.h"
#include "common/text.h"
#include "testing/fake_retry_clock.h"
#include "testing/failure.h"
#include "testing/server_process.h"
#include "testing/ssh_server.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::ReadFile;
using testing::SshServer;
using testing::TempDir;
using testing::WriteFile;

// The output of a shell command, its last line end taken off.
std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    pclose(p);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST(SftpTargetTest, ServerTextGivesHostPortAndKnownHostsName) {
  struct {
    const char* server;
    int default_port;
    const char* url;
    const char* known_as;
  } cases[] = {
      {"files.example.org", 22, "sftp://files.example.org:22", "files.example.org"},
      {"files.example.org", 2222, "sftp://files.example.org:2222", "[files.example.org]:2222"},
      {" sftp://10.0.0.1:2022/ ", 22, "sftp://10.0.0.1:2022", "[10.0.0.1]:2022"},
      {"[::1]:22", 2222, "sftp://[::1]:22", "::1"},
      {"::1", 22, "sftp://[::1]:22", "::1"},
  };
  for (const auto& c : cases) {
    const SftpEndpoint e = SftpEndpointFor(c.server, c.default_port);
    EXPECT_EQ(e.Url(), c.url) << c.server;
    EXPECT_EQ(e.KnownHostsName(), c.known_as) << c.server;
  }
  for (const char* bad : {"", "host:", "host:x", "host:0", "host:65536", "user@host", "host/dir", "[::1"})
    EXPECT_THROW(SftpEndpointFor(bad, 22), Error) << bad;
}

TEST(SftpTargetTest, RelativeFoldersStartAtTheLoginFolder) {
  EXPECT_EQ(SftpFilePath("", "a b.csv"), "/~/a%20b.csv");
  EXPECT_EQ(SftpFilePath("in/day 1/", "a.csv"), "/~/in/day%201/a.csv");
  EXPECT_EQ(SftpFilePath("/srv//in", "ü.csv"), "/srv/in/%C3%BC.csv");
}

TEST(SftpKeysTest, FingerprintAndTypeAsSshKeygenShowsThem) {
  TempDir dir;
  const std::string key = dir / "k";
  ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -C c -f '" + key + "'").c_str()), 0);
  const std::string pub = ReadFile(key + ".pub");  // "ssh-ed25519 AAAA... c"
  const std::string base64 = pub.substr(pub.find(' ') + 1, pub.rfind(' ') - pub.find(' ') - 1);
  // Decoded by the shell's base64, independent of the code under test.
  WriteFile(dir / "b64", base64);
  ASSERT_EQ(std::system(("base64 -d '" + dir / "b64" + "' > '" + dir / "blob" + "'").c_str()), 0);
  const std::string blob = ReadFile(dir / "blob");
  EXPECT_EQ(SshKeyType(blob), "ssh-ed25519");
  // "256 SHA256:... c (ED25519)"
  const std::string listed = Output("ssh-keygen -l -E sha256 -f '" + key + ".pub'");
  EXPECT_EQ(SshFingerprint(blob), listed.substr(4, listed.find(' ', 4) - 4));
  EXPECT_EQ(SshKeyType("\0\0"), "");
}

// Which key types known_hosts lists for a server decides whether a failed
// handshake is about the key type; names may be hashed (ssh-keygen -H).
TEST(SftpKeysTest, KeyTypesListedForAHostPlainOrHashed) {
  TempDir dir;
  ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -C c -f '" + dir / "k" + "'").c_str()), 0);
  const std::string pub = ReadFile(dir / "k.pub");
  const std::string key = pub.substr(pub.find(' ') + 1, pub.rfind(' ') - pub.find(' ') - 1);
  const std::string hosts = dir / "known_hosts";
  WriteFile(hosts, "hashed.example.org ssh-ed25519 " + key + "\n");
  ASSERT_EQ(std::system(("ssh-keygen -q -H -f '" + hosts + "' >/dev/null 2>&1").c_str()), 0);
  ASSERT_EQ(ReadFile(hosts).find("hashed.example.org"), std::string::npos) << ReadFile(hosts);
  WriteFile(hosts, ReadFile(hosts) + "# files.example.org ssh-ed25519 " + key + "\n" +
                       "files.example.org,10.0.0.1 ssh-rsa " + key + "\n" +
                       "[10.0.0.2]:2222 ssh-ed25519 " + key + " comment\n" +
                       "@cert-authority *.example.org ssh-ed25519 " + key + "\n");
  struct {
    const char* name;
    const char* type;
    bool listed;
  } cases[] = {
      {"files.example.org", "ssh-rsa", true},
      {"10.0.0.1", "ssh-rsa", true},
      {"files.example.org", "ssh-ed25519", false},  // only in a comment
      {"[10.0.0.2]:2222", "ssh-ed25519", true},
      {"10.0.0.2", "ssh-ed25519", false},  // another port
      {"hashed.example.org", "ssh-ed25519", true},
      {"hashed.example.org", "ssh-rsa", false},
      {"other.example.org", "ssh-ed25519", false},  // wildcards are not matched
  };
  for (const auto& row : cases)
    EXPECT_EQ(ListsKeyTypeFor(hosts, row.name, row.type), row.listed)
        << row.name << " " << row.type;
  EXPECT_FALSE(ListsKeyTypeFor(dir / "missing", "files.example.org", "ssh-rsa"));
}

TEST(SftpKeysTest, TheKeyFileMustBeReadableByItsOwnerOnly) {
  TempDir dir;
  const std::string key = dir / "key";
  WriteFile(key, "secret");
  struct {
    mode_t mode;
    bool accepted;
  } cases[] = {{0600, true}, {0400, true}, {0640, false}, {0644, false}, {0604, false}};
  for (const auto& c : cases) {
    chmod(key.c_str(), c.mode);
    if (c.accepted) {
      EXPECT_NO_THROW(CheckPrivateKeyFile(key)) << std::oct << c.mode;
    } else {
      const std::string failure = testing::FailureOf([&] { CheckPrivateKeyFile(key); });
      EXPECT_NE(failure.find("chmod 600"), std::string::npos) << failure;
    }
  }
  EXPECT_THROW(CheckPrivateKeyFile(dir / "missing"), Error);
  EXPECT_THROW(CheckPrivateKeyFile(dir.path()), Error);
}

TEST(SftpKeysTest, KnownHostsDefaultsToTheUsersFile) {
  const char* home = std::getenv("HOME");
  if (!home) GTEST_SKIP() << "no HOME";
  EXPECT_EQ(KnownHostsPath(""), std::string(home) + "/.ssh/known_hosts");
  EXPECT_EQ(KnownHostsPath("~/hosts"), std::string(home) + "/hosts");
  EXPECT_EQ(KnownHostsPath("/etc/ssh/ssh_known_hosts"), "/etc/ssh/ssh_known_hosts");
}

// Against a real OpenSSH server with its own host key.
struct SftpPutTest : ::testing::Test {
  TempDir dir;
  std::unique_ptr<SshServer> server;
  Job job;
  SftpSettings sftp;
  TransferLimits limits;
  FakeRetryClock clock;
  std::vector<std::string> notes;

  void SetUp() override {
    const std::string why = SshServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "SFTP tests skipped: " << why;
    std::filesystem::create_directories(dir / "ssh");
    server = std::make_unique<SshServer>(dir / "ssh");
    WriteFile(dir / "local/a.csv", "id;name\r\n1;Ann\r\n");
    WriteFile(dir / "local/b.xml", std::string("<b>\nZo\0\r\0\n\0", 11));
    job.written_files = {dir / "local/a.csv", dir / "local/b.xml"};
    job.sftp_server = "127.0.0.1";
    job.sftp_login = testing::kSftpTestUser;
    job.sftp_password = server->password();
    job.sftp_folder = server->upload_folder();
    sftp.port = server->port();
    sftp.known_hosts = dir / "known_hosts";
    WriteFile(sftp.known_hosts, "# other hosts\n" + server->known_hosts_line() + "\n");
    limits.connect_ms = 10000;
    limits.idle_ms = 10000;
  }
  std::string Failure(int retries = 0) {
    return testing::FailureOf(
        [&] { PutFilesBySftpWithRetries(job, sftp, limits, FakeRetries(retries, clock, notes)); });
  }
  std::string Uploaded(const std::string& name) const {
    const std::string path = server->upload_folder() + "/" + name;
    return std::filesystem::exists(path) ? ReadFile(path) : "(absent)";
  }
  std::string Target() const { return "ESFTPError: SFTP server 127.0.0.1:" + std::to_string(server->port()) + ": "; }
  // The names in the upload folder, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(server->upload_folder()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(SftpPutTest, PasswordAndKeyLoginsStoreEveryFileByteForByte) {
  struct {
    const char* login;
    bool key;
  } cases[] = {{"password", false}, {"key", true}};
  for (const auto& c : cases) {
    std::filesystem::remove(server->upload_folder() + "/a.csv");
    std::filesystem::remove(server->upload_folder() + "/b.xml");
    if (c.key) {
      job.sftp_password.clear();
      sftp.key_file = server->client_key();
    }
    EXPECT_EQ(Failure(), "no failure") << c.login << "\n" << server->log();
    EXPECT_EQ(Uploaded("a.csv"), "id;name\r\n1;Ann\r\n") << c.login;
    EXPECT_EQ(Uploaded("b.xml"), std::string("<b>\nZo\0\r\0\n\0", 11)) << c.login;
  }
  // One session for both files of each job.
  const std::string log = server->log();
  auto count = [&log](const std::string& what) {
    size_t n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Accepted password"), 1u) << log;
  EXPECT_EQ(count("Accepted publickey"), 1u) << log;
  // A key readable by others is refused before any connection.
  chmod(sftp.key_file.c_str(), 0644);
  EXPECT_NE(Failure().find("chmod 600"), std::string::npos);
}

TEST_F(SftpPutTest, AnUnknownOrChangedHostKeyIsRefusedWithItsFingerprint) {
  const std::string listed = Output("ssh-keygen -l -E sha256 -f '" + dir / "ssh/host_key.pub" + "'");
  const std::string fingerprint = listed.substr(4, listed.find(' ', 4) - 4);
  // Some other server's key under this server's name.
  ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -f '" + dir / "other" + "'").c_str()), 0);
  const std::string other = ReadFile(dir / "other.pub");
  // An RSA key under this server's name; the server has only ed25519.
  ASSERT_EQ(
      std::system(("ssh-keygen -q -t rsa -b 2048 -N '' -f '" + dir / "rsa" + "'").c_str()), 0);
  const std::string rsa = ReadFile(dir / "rsa.pub");
  const std::string name = "[127.0.0.1]:" + std::to_string(server->port());
  struct {
    std::string known_hosts;
    std::string says;
  } cases[] = {
      {"", "is not in " + sftp.known_hosts},
      {name + " " + other, "does NOT match"},
      {name + " " + rsa,
       sftp.known_hosts + " records keys for " + name +
           ", but none of a type the server offers: it offers its ssh-ed25519 key "},
  };
  for (const auto& c : cases) {
    WriteFile(sftp.known_hosts, c.known_hosts);
    const std::string failure = Failure(3);
    EXPECT_EQ(failure.rfind(Target(), 0), 0u) << failure;
    EXPECT_NE(failure.find(c.says), std::string::npos) << failure << "\n" << server->log();
    EXPECT_NE(failure.find("ssh-ed25519 key " + fingerprint), std::string::npos) << failure;
    // The line that accepts the key, exactly as it would go into the file.
    EXPECT_NE(failure.find(server->known_hosts_line()), std::string::npos) << failure;
    EXPECT_TRUE(notes.empty()) << "never retried";
    EXPECT_EQ(Uploaded("a.csv"), "(absent)");
  }
  EXPECT_EQ(ReadFile(sftp.known_hosts), cases[2].known_hosts) << "the file is never changed";
  // The key was fetched without a login.
  EXPECT_EQ(server->log().find("Accepted"), std::string::npos) << server->log();
}

// A file is whole under its own name or not there. The connection goes
// through a relay that breaks it off in the middle of the second file;
// then the server is reachable again at once, never again, or again for
// the retry, which removes what the first try left. An existing file of
// the same name is replaced (OpenSSH's SFTP does not rename onto it: it is
// removed first).
TEST_F(SftpPutTest, AFileIsWholeUnderItsNameOrNotThere) {
  std::string big(3 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 4096) big[i] = char('a' + i % 26);
  WriteFile(dir / "local/b.xml", big);
  struct {
    const char* name;
    long cut_after;  // bytes from the client on the first connection; 0: no relay
    int refuse_after_cut;  // connections refused after the cut
    int retries;
    bool fails;
    const char* b_xml;  // what b.xml holds afterwards
    bool leftover;      // a temporary file is left (and named in the error)
  } cases[] = {
      {"replaced", 0, 0, 0, false, "new", false},
      {"cut, removed at once", 1 << 20, 0, 0, true, "old", false},
      {"cut, server gone", 1 << 20, 1000, 0, true, "old", true},
      {"cut, retried", 1 << 20, 0, 1, false, "new", false},
      {"cut, removed by the retry", 1 << 20, 1, 1, false, "new", false},
  };
  const std::string direct_hosts = ReadFile(sftp.known_hosts);
  for (const auto& c : cases) {
    for (const std::string& name : Listing())
      std::filesystem::remove(server->upload_folder() + "/" + name);
    WriteFile(server->upload_folder() + "/b.xml", "old");
    notes.clear();
    std::unique_ptr<testing::ServerProcess> relay;
    sftp.port = server->port();
    WriteFile(sftp.known_hosts, direct_hosts);
    if (c.cut_after > 0) {
      const std::string relay_out = dir / ("relay-" + std::to_string(&c - cases));
      std::filesystem::create_directories(relay_out);
      std::vector<std::string> args = {"--target", std::to_string(server->port()), "--cut-after",
                                       std::to_string(c.cut_after), "--out", relay_out};
      args.insert(args.end(), {"--refuse-after-cut", std::to_string(c.refuse_after_cut)});
      relay = std::make_unique<testing::ServerProcess>("tcp_cutter.py", args);
      sftp.port = relay->port();
      const std::string line = server->known_hosts_line();
      WriteFile(sftp.known_hosts, "[127.0.0.1]:" + std::to_string(relay->port()) +
                                      line.substr(line.find(' ')) + "\n");
    }
    const std::string failure = Failure(c.retries);
    if (c.fails) {
      EXPECT_EQ(failure.rfind("ESFTPError: SFTP server 127.0.0.1:", 0), 0u)
          << c.name << ": " << failure;
    } else {
      EXPECT_EQ(failure, "no failure") << c.name << "\n" << server->log();
    }
    EXPECT_EQ(notes.size(), size_t(c.retries)) << c.name;
    EXPECT_EQ(Uploaded("a.csv"), "id;name\r\n1;Ann\r\n") << c.name;
    EXPECT_EQ(Uploaded("b.xml") == big ? "new" : Uploaded("b.xml"), c.b_xml) << c.name;
    std::vector<std::string> names = Listing();
    const auto temporary = std::find_if(names.begin(), names.end(), [](const std::string& n) {
      return n.rfind(".b.xml.part-", 0) == 0;
    });
    EXPECT_EQ(names.size(), c.leftover ? 3u : 2u) << c.name;
    ASSERT_EQ(temporary != names.end(), c.leftover) << c.name;
    if (c.leftover) {
      EXPECT_NE(failure.find("; the partial file " + *temporary +
                             " could not be removed from the server ("),
                std::string::npos)
          << failure;
    } else {
      EXPECT_EQ(failure.find("could not be removed"), std::string::npos)
          << c.name << ": " << failure;
    }
  }
}

TEST_F(SftpPutTest, PermanentFailuresAreNotRetriedTransientOnesAre) {
  struct {
    const char* name;
    std::function<void()> change;
    const char* says;
    size_t notes;
  } cases[] = {
      {"wrong password", [&] { job.sftp_password = "wrong-" + server->password(); },
       "refused the login of \"ostrevane-sftp\"", 0},
      {"no login", [&] { job.sftp_login.clear(); }, "no Login is set in section SFTP", 0},
      {"missing folder", [&] { job.sftp_folder = server->upload_folder() + "/nope"; }, "", 0},
      {"nobody listening", [&] { sftp.port = testing::UnusedPort(); }, "", 2},
  };
  const Job job_as_set = job;
  const SftpSettings sftp_as_set = sftp;
  for (const auto& c : cases) {
    job = job_as_set;
    sftp = sftp_as_set;
    notes.clear();
    c.change();
    const std::string failure = Failure(2);
    EXPECT_EQ(failure.rfind("ESFTPError: SFTP server 127.0.0.1:", 0), 0u) << c.name << ": " << failure;
    EXPECT_NE(failure.find(c.says), std::string::npos) << c.name << ": " << failure;
    EXPECT_EQ(failure.find(server->password()), std::string::npos) << failure;
    EXPECT_EQ(notes.size(), c.notes) << c.name << ": " << failure;
    EXPECT_EQ(Uploaded("a.csv"), "(absent)") << c.name;
  }
}

}  // namespace
}  // namespace ostrevane::delivery
