#include "delivery/ftp_put.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/error.h"
#include "common/text.h"
#include "delivery/mime_text.h"
#include "testing/failure.h"
#include "testing/fake_retry_clock.h"
#include "testing/server_process.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::ReadFile;
using testing::ServerProcess;
using testing::TempDir;
using testing::WriteFile;

TEST(FtpUrlTest, ServerTextGivesHostAndPort) {
  struct {
    const char* server;
    const char* url;
  } cases[] = {
      {"files.example.org", "ftp://files.example.org:21/"},
      {"files.example.org:2121", "ftp://files.example.org:2121/"},
      {" ftp://files.example.org/ ", "ftp://files.example.org:21/"},
      {"FTP://10.0.0.1:990", "ftp://10.0.0.1:990/"},
      {"[::1]:2121", "ftp://[::1]:2121/"},
      {"::1", "ftp://[::1]:21/"},
  };
  for (const auto& c : cases) EXPECT_EQ(FtpServerUrl(c.server), c.url) << c.server;
  for (const char* bad : {"", "host:", "host:x", "host:0", "host:65536", "user@host", "host/dir", "[::1"})
    EXPECT_THROW(FtpServerUrl(bad), Error) << bad;
}

TEST(FtpUrlTest, TheFolderIsOnePathSegmentSoItIsChangedToAsGiven) {
  EXPECT_EQ(FtpFileUrl("ftp://h:21/", "", "a b.csv"), "ftp://h:21/a%20b.csv");
  EXPECT_EQ(FtpFileUrl("ftp://h:21/", "in/day 1", "a.csv"), "ftp://h:21/in%2Fday%201/a.csv");
  EXPECT_EQ(FtpFileUrl("ftp://h:21/", "/abs", "ü.csv"), "ftp://h:21/%2Fabs/%C3%BC.csv");
}

struct FtpPutTest : ::testing::Test {
  TempDir dir;
  std::string root = dir / "root";
  std::string out = dir / "ftp";
  Job job;
  ServerSettings proxy;
  TransferLimits limits;
  std::unique_ptr<ServerProcess> server;

  void SetUp() override {
    std::filesystem::create_directories(root + "/sub/deeper");
    std::filesystem::create_directories(out);
    WriteFile(dir / "local/a.csv", "id;name\r\n1;Ann\r\n");
    WriteFile(dir / "local/b.xml", std::string("<b>\nZo\0\r\0\n\0", 11));
    job.written_files = {dir / "local/a.csv", dir / "local/b.xml"};
    job.ftp_login = "bob";
    job.ftp_password = "pw-of-bob";
    // Generous: sanitizer builds on a busy machine are slow. The tests of
    // time-outs set short limits themselves.
    limits.connect_ms = 10000;
    limits.idle_ms = 10000;
  }
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--out", out, "--root", root, "--user", "bob:pw-of-bob", "--anonymous"};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<ServerProcess>("ftp_server.py", args);
    job.ftp_server = "127.0.0.1:" + std::to_string(server->port());
  }
  // The commands the server received, one a line.
  std::string Commands() const {
    return std::filesystem::exists(out + "/events.log") ? ReadFile(out + "/events.log") : "";
  }
  // The names in a folder of the server, sorted.
  static std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  size_t Count(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& line : SplitLines(Commands()))
      if (line.rfind(prefix, 0) == 0) ++n;
    return n;
  }
  std::string Failure() {
    return testing::FailureOf([&] { PutFilesWithLimits(job, proxy, limits); });
  }
};

TEST_F(FtpPutTest, OneLoginOneFolderChangeAndAStorePerFileInBinaryMode) {
  Start();
  job.ftp_folder = "sub";
  EXPECT_EQ(Failure(), "no failure");
  EXPECT_EQ(Count("USER "), 1u) << Commands();
  EXPECT_EQ(Count("USER bob"), 1u) << Commands();
  EXPECT_EQ(Count("CWD "), 1u) << Commands();
  EXPECT_EQ(Count("CWD sub"), 1u) << Commands();
  EXPECT_EQ(Count("STOR "), 2u) << Commands();
  EXPECT_EQ(Count("APPE"), 0u) << Commands();
  EXPECT_EQ(Count("PORT"), 0u) << Commands();
  EXPECT_EQ(Count("QUIT"), 1u) << Commands();
  // Each file is stored under a temporary name in the folder and renamed
  // once it is whole.
  const std::string commands = Commands();
  const size_t store_a = commands.find("STOR .a.csv.part-");
  const size_t store_b = commands.find("STOR .b.xml.part-");
  ASSERT_NE(store_a, std::string::npos) << commands;
  ASSERT_NE(store_b, std::string::npos) << commands;
  const std::string temporary_a =
      commands.substr(store_a + 5, commands.find('\n', store_a) - store_a - 5);
  EXPECT_EQ(temporary_a.size(), std::string(".a.csv.part-").size() + 6) << temporary_a;
  EXPECT_LT(store_a, commands.find("RNFR " + temporary_a + "\nRNTO a.csv\n")) << commands;
  EXPECT_LT(commands.find("RNTO a.csv"), store_b) << commands;
  EXPECT_EQ(Count("RNTO b.xml"), 1u) << commands;
  // Binary type is chosen before the first store and never left.
  EXPECT_EQ(Count("TYPE A"), 0u) << commands;
  EXPECT_NE(commands.find("TYPE I"), std::string::npos) << commands;
  EXPECT_LT(commands.find("TYPE I"), store_a) << commands;
  EXPECT_LT(commands.find("CWD sub"), store_a) << commands;
  EXPECT_EQ(std::vector<std::string>({"a.csv", "b.xml"}), Listing(root + "/sub"));
  EXPECT_EQ(ReadFile(root + "/sub/a.csv"), "id;name\r\n1;Ann\r\n");
  EXPECT_EQ(ReadFile(root + "/sub/b.xml"), std::string("<b>\nZo\0\r\0\n\0", 11));
  EXPECT_EQ(Commands().find("pw-of-bob"), std::string::npos);
}

TEST_F(FtpPutTest, TheServerStoresEveryFileByteForByte) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  every_byte += "\r\n\r\r\n\n\r";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      // UTF-16LE with its mark: "id;ü" CR LF "1;€" CR LF
      {"wide.csv", std::string("\xFF\xFEi\0d\0;\0\xFC\0\r\0\n\0"
                               "1\0;\0\xAC\x20\r\0\n\0",
                               24)},
      {"data.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n\t<b>\xC3\xBC</b>\r\n</a>"},
      {"every.bin", every_byte + every_byte},
  };
  Start();
  job.written_files.clear();
  for (const auto& c : cases) {
    const std::string path = dir / ("local/" + std::string(c.name));
    WriteFile(path, c.bytes);
    job.written_files.push_back(path);
  }
  EXPECT_EQ(Failure(), "no failure");
  for (const auto& c : cases) {
    const std::string stored = ReadFile(root + "/" + c.name);
    EXPECT_EQ(stored.size(), c.bytes.size()) << c.name;
    EXPECT_TRUE(stored == c.bytes) << c.name;
  }
}

TEST_F(FtpPutTest, FoldersAndLogins) {
  struct { const char* folder; const char* login; const char* cwd; const char* lands_in; } cases[] = {
      {"", "bob", nullptr, ""},                        // the login folder
      {"/sub/deeper", "bob", "CWD /sub/deeper", "sub/deeper/"},  // one CWD, as given
      {"sub", "", "CWD sub", "sub/"},                  // empty login: anonymous
  };
  Start();
  for (const auto& c : cases) {
    std::filesystem::remove(out + "/events.log");
    job.ftp_folder = c.folder;
    job.ftp_login = c.login;
    EXPECT_EQ(Failure(), "no failure") << c.folder;
    EXPECT_EQ(Count("CWD "), c.cwd ? 1u : 0u) << Commands();
    if (c.cwd) {
      EXPECT_EQ(Count(c.cwd), 1u) << Commands();
    }
    EXPECT_EQ(Count(std::string("USER ") + (*c.login ? c.login : "anonymous")), 1u) << Commands();
    EXPECT_EQ(ReadFile(root + "/" + c.lands_in + "a.csv"), "id;name\r\n1;Ann\r\n") << c.folder;
  }
}

TEST_F(FtpPutTest, AMissingFolderFailsBeforeAnyFileIsStored) {
  Start();
  job.ftp_folder = "nope";
  const std::string failure = Failure();
  EXPECT_EQ(failure.rfind("EFTPError: ", 0), 0u) << failure;
  EXPECT_NE(failure.find("550"), std::string::npos) << failure;
  EXPECT_EQ(Count("STOR"), 0u) << Commands();
  EXPECT_FALSE(std::filesystem::exists(root + "/a.csv"));
}

TEST_F(FtpPutTest, TheFirstFailureStopsTheLoop) {
  struct { std::vector<std::string> server_args; bool delete_second; const char* failure_start; size_t stores;
  } cases[] = {
      {{"--close-on-stor", "1"},
       false,
       "EFTPError: FTP server 127.0.0.1:PORT: the connection was lost",
       1},
      {{}, true, "EFOpenError: Cannot open file \"", 1},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(out + "/events.log");
    SetUp();
    Start(c.server_args);
    if (c.delete_second) std::filesystem::remove(job.written_files[1]);
    WriteFile(dir / "local/c.txt", "third");
    job.written_files.push_back(dir / "local/c.txt");
    const std::string failure = Failure();
    EXPECT_EQ(failure.rfind(ReplaceAll(c.failure_start, "PORT", std::to_string(server->port())), 0),
              0u)
        << failure;
    EXPECT_EQ(Count("STOR"), c.stores) << Commands();
    EXPECT_FALSE(std::filesystem::exists(root + "/c.txt"));
  }
}

TEST_F(FtpPutTest, UnreachableSilentOrRefusingServers) {
  Start();
  job.ftp_password = "wrong-password";
  std::string failure = Failure();
  EXPECT_EQ(failure.rfind("EFTPError: ", 0), 0u) << failure;
  EXPECT_NE(failure.find("530"), std::string::npos) << failure;
  EXPECT_EQ(failure.find("wrong-password"), std::string::npos) << failure;

  job.ftp_server = "127.0.0.1:" + std::to_string(testing::UnusedPort());
  failure = Failure();
  EXPECT_EQ(failure.rfind("EFTPError: FTP server " + job.ftp_server + ": Failed to connect", 0), 0u)
      << failure;

  job.ftp_server = " ";
  EXPECT_EQ(Failure(), "EFTPError: no FTP server is set in settings.ini");

  limits.connect_ms = 2000;
  limits.idle_ms = 1000;
  for (const char* script : {"", "send:220 hello|recv|send:331 password please|recv"}) {
    ServerProcess silent("scripted_server.py", {"--script", script});
    job.ftp_server = "127.0.0.1:" + std::to_string(silent.port());
    const auto start = std::chrono::steady_clock::now();
    failure = Failure();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << script;
    EXPECT_EQ(failure.rfind("EFTPError: FTP server " + job.ftp_server + ": ", 0), 0u) << failure;
  }
}

TEST_F(FtpPutTest, AnHttpProxyCarriesTheConnectionOnlyWithAuth) {
  Start();
  const std::string proxy_out = dir / "proxy";
  std::filesystem::create_directories(proxy_out);
  ServerProcess p("http_proxy.py", {"--out", proxy_out, "--require", "pxuser:pxpass"});
  proxy = {"127.0.0.1", "pxuser", "pxpass", p.port(), true};
  EXPECT_EQ(Failure(), "no failure");
  const std::string log = ReadFile(proxy_out + "/events.log");
  const std::string control =
      "CONNECT " + job.ftp_server + " Basic " + Base64("pxuser:pxpass") + "\n";
  EXPECT_EQ(log.rfind(control, 0), 0u) << log;
  // The data connections of the two stores are tunnelled too.
  EXPECT_EQ(SplitLines(log).size(), 3u) << log;
  EXPECT_EQ(ReadFile(root + "/a.csv"), "id;name\r\n1;Ann\r\n");

  proxy.auth = false;  // the same settings leave the connection direct
  std::filesystem::remove(root + "/b.xml");
  EXPECT_EQ(Failure(), "no failure");
  EXPECT_EQ(ReadFile(proxy_out + "/events.log"), log);
  EXPECT_TRUE(std::filesystem::exists(root + "/b.xml"));
}

TEST_F(FtpPutTest, RetriesOutwaitATransientRefusalAndGiveUpOnAPermanentOne) {
  struct {
    const char* refuse;  // the server's answer to the first two STORs
    const char* failure;
    size_t tries;  // logins seen
  } cases[] = {
      {"2:450 busy, try later", "no failure", 3},
      {"2:421 closing, too many users", "no failure", 3},
      {"2:550 permission denied", "EFTPError: FTP server 127.0.0.1:PORT: ", 1},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(out + "/events.log");
    std::filesystem::remove(root + "/a.csv");
    Start({"--refuse-stor", c.refuse});
    FakeRetryClock clock;
    std::vector<std::string> notes;
    const std::string failure = testing::FailureOf(
        [&] { PutFilesWithRetries(job, proxy, limits, FtpSecurity::kPlain, FakeRetries(3, clock, notes)); });
    EXPECT_EQ(failure.rfind(ReplaceAll(c.failure, "PORT", std::to_string(server->port())), 0), 0u)
        << c.refuse << ": " << failure;
    EXPECT_EQ(Count("USER "), c.tries) << Commands();
    EXPECT_EQ(notes.size(), c.tries - 1) << c.refuse;
    if (c.tries == 3) {
      // Each file is stored once it goes through; the waits double.
      EXPECT_EQ(ReadFile(root + "/a.csv"), "id;name\r\n1;Ann\r\n");
      EXPECT_EQ(Count("STOR "), 4u) << Commands();
      EXPECT_EQ(clock.waits.size(), 2u);
      EXPECT_EQ(clock.waits[1], 2 * clock.waits[0]);
      EXPECT_NE(notes[0].find("FTP delivery failed, trying again in 30 s (retry 1 of 3): FTP server"),
                std::string::npos)
          << notes[0];
      EXPECT_NE(notes[0].find(std::string(c.refuse).substr(2)), std::string::npos) << notes[0];
    }
  }
}

TEST_F(FtpPutTest, ADroppedConnectionIsRetriedFromTheFileItHappenedTo) {
  Start({"--close-on-stor", "2"});
  FakeRetryClock clock;
  std::vector<std::string> notes;
  EXPECT_EQ(testing::FailureOf([&] {
              PutFilesWithRetries(job, proxy, limits, FtpSecurity::kPlain, FakeRetries(1, clock, notes));
            }),
            "no failure");
  EXPECT_EQ(Count("STOR .a.csv.part-"), 1u) << Commands();
  EXPECT_EQ(Count("STOR .b.xml.part-"), 2u) << Commands();
  EXPECT_EQ(ReadFile(root + "/b.xml"), std::string("<b>\nZo\0\r\0\n\0", 11));
  EXPECT_EQ(notes.size(), 1u);
  // The broken upload was removed on a new connection at once.
  EXPECT_EQ(Count("DELE .b.xml.part-"), 1u) << Commands();
  EXPECT_EQ(std::vector<std::string>({"a.csv", "b.xml"}), Listing(root));
}

// A file is whole under its own name or not there: a transfer that breaks
// off, a rename the server refuses and a server that goes away all leave
// the earlier name's file as it was, and the temporary file is removed
// when the server still lets it be, else named in the error.
TEST_F(FtpPutTest, AFileIsWholeUnderItsNameOrNotThere) {
  std::string big(3 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 4096) big[i] = char('a' + i % 26);
  struct {
    const char* name;
    std::vector<std::string> server_args;
    const char* failure;  // null: none; "": any that names the server
    const char* b_xml;    // what b.xml holds afterwards
    bool leftover;        // a temporary file is left (and named in the error)
  } cases[] = {
      {"replaced", {}, nullptr, "new", false},
      {"replaced where RNTO refuses to overwrite", {"--no-replace"}, nullptr, "new", false},
      {"connection dropped", {"--close-on-stor", "2"}, "", "old", false},
      {"rename refused", {"--refuse-rnto"},
       "the file was stored as .a.csv.part-", "old", false},
      {"server gone", {"--exit-on-stor", "2"}, "", "old", true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    std::filesystem::remove(out + "/events.log");
    WriteFile(root + "/b.xml", "old");
    WriteFile(dir / "local/b.xml", big);
    Start(c.server_args);
    const std::string failure = Failure();
    if (c.failure) {
      EXPECT_EQ(failure.rfind("EFTPError: FTP server " + job.ftp_server + ": ", 0), 0u)
          << c.name << ": " << failure;
      EXPECT_NE(failure.find(c.failure), std::string::npos) << c.name << ": " << failure;
    } else {
      EXPECT_EQ(failure, "no failure") << c.name;
    }
    const std::string b_xml = ReadFile(root + "/b.xml");
    EXPECT_EQ(b_xml == big ? "new" : b_xml, c.b_xml) << c.name;
    std::vector<std::string> names = Listing(root);
    const auto temporary = std::find_if(names.begin(), names.end(), [](const std::string& n) {
      return n.rfind(".", 0) == 0 && n.find(".part-") != std::string::npos;
    });
    EXPECT_EQ(temporary != names.end(), c.leftover) << c.name << ": " << Commands();
    if (c.leftover && temporary != names.end()) {
      EXPECT_NE(failure.find("; the partial file " + *temporary +
                             " could not be removed from the server ("),
                std::string::npos)
          << failure;
    } else {
      EXPECT_EQ(failure.find("could not be removed"), std::string::npos)
          << c.name << ": " << failure;
    }
    server.reset();
  }
}

// A stop in the middle of a store: the transfer ends at once, the
// temporary file is removed in one short try, and when the server does not
// answer that try the error names the file left behind. No retry follows.
TEST_F(FtpPutTest, AStoppedStoreRemovesItsTemporaryFileOrNamesIt) {
  WriteFile(dir / "local/a.csv", std::string(32 << 20, 'x'));
  job.written_files = {dir / "local/a.csv"};
  struct {
    const char* name;
    std::vector<std::string> server_args;
    bool leftover;
  } cases[] = {
      {"server answers", {"--slow-stor", "0.05"}, false},
      {"server hangs at the removal", {"--slow-stor", "0.05", "--hang-on-dele", "8"}, true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    std::filesystem::remove(out + "/events.log");
    Start(c.server_args);
    StopFlag stop;
    FakeRetryClock clock;
    std::vector<std::string> notes;
    RetryPolicy policy = FakeRetries(2, clock, notes);
    policy.stop = &stop;
    std::chrono::steady_clock::time_point raised;
    std::thread stopper([&] {
      // Once part of the file is on the server.
      for (int i = 0; i < 2000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::vector<std::string> names = Listing(root);
        if (!names.empty() && std::filesystem::file_size(root + "/" + names[0]) > 0) break;
      }
      raised = std::chrono::steady_clock::now();
      stop.Raise(StopReason::kRunStopped);
    });
    const std::string failure = testing::FailureOf(
        [&] { PutFilesWithRetries(job, proxy, limits, FtpSecurity::kPlain, policy); });
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_LT(ended - raised, std::chrono::seconds(5)) << c.name;
    EXPECT_NE(failure.find("The transfer was aborted: the job was stopped"), std::string::npos)
        << c.name << ": " << failure;
    EXPECT_EQ(Count("STOR"), 1u) << c.name << ": " << Commands();
    EXPECT_EQ(Count("DELE .a.csv.part-"), 1u) << c.name << ": " << Commands();
    EXPECT_TRUE(notes.empty()) << c.name;
    const std::vector<std::string> names = Listing(root);
    EXPECT_EQ(names.size(), c.leftover ? 1u : 0u) << c.name;
    if (c.leftover && names.size() == 1)
      EXPECT_NE(failure.find("; the partial file " + names[0] +
                             " could not be removed from the server (the server did not answer"),
                std::string::npos)
          << c.name << ": " << failure;
    else
      EXPECT_EQ(failure.find("could not be removed"), std::string::npos)
          << c.name << ": " << failure;
    server.reset();
  }
}

TEST_F(FtpPutTest, ExplicitAndImplicitTlsWithTheServersCertificateChecked) {
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  limits.ca_file = cert.cert;
  struct {
    const char* server_tls;
    FtpSecurity security;
  } cases[] = {{"implicit", FtpSecurity::kImplicit}, {"explicit", FtpSecurity::kExplicit}};
  for (const auto& c : cases) {
    std::filesystem::remove(out + "/events.log");
    std::filesystem::remove(root + "/a.csv");
    Start({"--tls", c.server_tls, "--cert", cert.cert, "--key", cert.key});
    EXPECT_EQ(testing::FailureOf([&] { PutFilesWithLimits(job, proxy, limits, c.security); }),
              "no failure")
        << c.server_tls;
    EXPECT_EQ(ReadFile(root + "/a.csv"), "id;name\r\n1;Ann\r\n") << c.server_tls;
    EXPECT_EQ(Count("PROT P"), 1u) << Commands();
    if (c.security == FtpSecurity::kExplicit) {
      EXPECT_EQ(Count("AUTH TLS"), 1u) << Commands();
    }

    // A certificate that no trusted authority signed is refused.
    TransferLimits untrusted = limits;
    untrusted.ca_file = dir / "no-such-ca.pem";
    WriteFile(untrusted.ca_file, "");
    const std::string failure =
        testing::FailureOf([&] { PutFilesWithLimits(job, proxy, untrusted, c.security); });
    EXPECT_EQ(failure.rfind("EFTPError: FTP server 127.0.0.1:", 0), 0u) << failure;
  }
  // A plain client is turned away by the server, which requires TLS.
  const std::string plain = testing::FailureOf([&] { PutFilesWithLimits(job, proxy, limits); });
  EXPECT_NE(plain.find("550"), std::string::npos) << plain;
}

TEST_F(FtpPutTest, TlsThroughTheProxyTunnel) {
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  limits.ca_file = cert.cert;
  Start({"--tls", "explicit", "--cert", cert.cert, "--key", cert.key});
  const std::string proxy_out = dir / "proxy";
  std::filesystem::create_directories(proxy_out);
  ServerProcess p("http_proxy.py", {"--out", proxy_out});
  proxy = {"127.0.0.1", "", "", p.port(), true};
  EXPECT_EQ(testing::FailureOf([&] { PutFilesWithLimits(job, proxy, limits, FtpSecurity::kExplicit); }),
            "no failure");
  EXPECT_EQ(ReadFile(root + "/b.xml"), std::string("<b>\nZo\0\r\0\n\0", 11));
  EXPECT_EQ(ReadFile(proxy_out + "/events.log").rfind("CONNECT " + job.ftp_server, 0), 0u);
}

// A stock vsftpd with its default settings: every data connection must
// resume the TLS session of the control connection (require_ssl_reuse).
TEST_F(FtpPutTest, SeveralFilesOverTlsToAServerThatRequiresSessionReuse) {
  if (geteuid() != 0) GTEST_SKIP() << "vsftpd runs as root only";
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  limits.ca_file = cert.cert;
  const std::string anonymous_root = dir / "vsftpd-root";
  const std::string in = anonymous_root + "/in";
  std::filesystem::create_directories(in);
  std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  std::filesystem::permissions(anonymous_root, std::filesystem::perms(0755));
  std::filesystem::permissions(in, std::filesystem::perms::all);
  job.written_files.clear();
  std::vector<std::string> contents;
  for (size_t size : {0, 1, 70000, 1 << 20, 333333}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 7919 + size) % 251);
    const std::string path = dir / ("local/f" + std::to_string(contents.size()) + ".bin");
    WriteFile(path, bytes);
    job.written_files.push_back(path);
    contents.push_back(bytes);
  }
  job.ftp_login.clear();  // anonymous
  job.ftp_folder = "in";
  const struct {
    const char* tls;
    FtpSecurity security;
  } cases[] = {{"explicit", FtpSecurity::kExplicit}, {"implicit", FtpSecurity::kImplicit}};
  for (const auto& c : cases) {
    const std::string vsftpd_out = dir / (std::string("vsftpd-") + c.tls);
    std::filesystem::create_directories(vsftpd_out);
    ServerProcess vsftpd("vsftpd_server.py", {"--root", anonymous_root, "--out", vsftpd_out,
                                              "--tls", c.tls, "--cert", cert.cert, "--key",
                                              cert.key});
    job.ftp_server = "127.0.0.1:" + std::to_string(vsftpd.port());
    for (int run = 1; run <= 3; ++run) {
      for (const std::string& name : Listing(in)) std::filesystem::remove(in + "/" + name);
      ASSERT_EQ(testing::FailureOf([&] { PutFilesWithLimits(job, proxy, limits, c.security); }),
                "no failure")
          << c.tls << " run " << run << "\n"
          << ReadFile(vsftpd_out + "/vsftpd.log");
      EXPECT_EQ(Listing(in),
                std::vector<std::string>({"f0.bin", "f1.bin", "f2.bin", "f3.bin", "f4.bin"}));
      for (size_t i = 0; i < contents.size(); ++i)
        EXPECT_TRUE(ReadFile(in + "/f" + std::to_string(i) + ".bin") == contents[i])
            << c.tls << " " << i;
    }
  }
}

TEST(FtpSecurityTest, TheTlsSettingPicksSchemeAndDefaultPort) {
  EXPECT_EQ(FtpServerUrl("h", FtpSecurityFor(0)), "ftp://h:21/");
  EXPECT_EQ(FtpServerUrl("h", FtpSecurityFor(1)), "ftp://h:21/");
  EXPECT_EQ(FtpServerUrl("h", FtpSecurityFor(2)), "ftps://h:990/");
  EXPECT_EQ(FtpServerUrl("h:2990", FtpSecurityFor(2)), "ftps://h:2990/");
  for (int bad : {-1, 3, 257}) EXPECT_THROW(FtpSecurityFor(bad), Error) << bad;
}

}  // namespace
}  // namespace ostrevane::delivery
