#include "delivery/mail.h"
#include "testing/fake_retry_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "delivery/delivery.h"
#include "delivery/report.h"
#include "testing/failure.h"
#include "testing/memory_backend.h"
#include "testing/server_process.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::MakeTestCertificate;
using testing::MemoryDatabase;
using testing::MemoryFactory;
using testing::ReadFile;
using testing::ServerProcess;
using testing::TempDir;
using testing::TestCertificate;
using testing::WriteFile;

// One SMTP server of the tests with the folder where it records.
struct Smtp {
  std::string out;
  std::unique_ptr<ServerProcess> process;

  Smtp(const TempDir& dir, const std::string& name, std::vector<std::string> args) : out(dir / name) {
    std::filesystem::create_directories(out);
    args.insert(args.begin(), {"--out", out});
    process = std::make_unique<ServerProcess>("smtp_server.py", args);
  }
  int port() const { return process->port(); }
  int Messages() const {
    int n = 0;
    while (std::filesystem::exists(out + "/msg-" + std::to_string(n + 1))) ++n;
    return n;
  }
  std::string Message(int n, const std::string& file) const {
    return ReadFile(out + "/msg-" + std::to_string(n) + "/" + file);
  }
  std::string Events() const {
    return std::filesystem::exists(out + "/events.log") ? ReadFile(out + "/events.log") : "";
  }
};

struct MailTest : ::testing::Test {
  static void SetUpTestSuite() {
    shared_ = new Shared;
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }

  // Servers that many tests use, started once.
  struct Shared {
    TempDir dir;
    TestCertificate cert = MakeTestCertificate(dir.path());
    std::vector<std::string> tls_args = {"--cert", cert.cert, "--key", cert.key};
    Smtp plain{dir, "plain", {}};
    Smtp starttls{dir, "starttls", Concat({"--tls", "starttls"}, tls_args)};
    Smtp implicit{dir, "implicit", Concat({"--tls", "implicit"}, tls_args)};
    Smtp auth{dir, "auth", {"--auth", "mailer:s3cret"}};

    static std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
      a.insert(a.end(), b.begin(), b.end());
      return a;
    }
  };
  static Shared* shared_;

  void SetUp() override {
    settings.server = "127.0.0.1";
    settings.sender = "reports@example.org";
    settings.subject = "Nightly export";
    job.mail_to = "ops@example.org";
    WriteFile(dir / "first.csv", "id;name\r\n1;Ann\r\n");
    job.written_files = {dir / "first.csv"};
    // Generous: sanitizer builds on a busy machine are slow. The tests of
    // time-outs set short limits themselves.
    limits.connect_ms = 10000;
    limits.idle_ms = 10000;
    limits.ca_file = shared_->cert.cert;
  }

  // Sends and returns the number of the message the server stored.
  int Send(const Smtp& server) {
    settings.port = server.port();
    const int before = server.Messages();
    SendMailWithLimits(job, settings, query, formats, limits);
    EXPECT_EQ(server.Messages(), before + 1);
    return before + 1;
  }
  // The failure of a send, as "ClassName: message".
  std::string Failure(int port) {
    settings.port = port;
    return testing::FailureOf([&] { SendMailWithLimits(job, settings, query, formats, limits); });
  }

  TempDir dir;
  Job job;
  MailSettings settings;
  FormatSettings formats;
  TransferLimits limits;
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  Query query{conn};
};

MailTest::Shared* MailTest::shared_ = nullptr;

TEST(MailEndpointTest, TlsModesChooseSchemeStartTlsAndPortMoves) {
  struct {
    uint8_t tls;
    int32_t port;
    const char* url;
    const char* server;
    curl_usessl ssl;
  } cases[] = {
      {0, 25, "smtp://mx:25/me", "mx:25", CURLUSESSL_NONE},
      {0, 465, "smtp://mx:465/me", "mx:465", CURLUSESSL_NONE},
      {1, 25, "smtps://mx:465/me", "mx:465", CURLUSESSL_NONE},
      {1, 587, "smtps://mx:587/me", "mx:587", CURLUSESSL_NONE},
      {2, 465, "smtp://mx:25/me", "mx:25", CURLUSESSL_ALL},
      {2, 587, "smtp://mx:587/me", "mx:587", CURLUSESSL_ALL},
      {3, 465, "smtp://mx:25/me", "mx:25", CURLUSESSL_TRY},
      {3, 25, "smtp://mx:25/me", "mx:25", CURLUSESSL_TRY},
      {7, 465, "smtp://mx:465/me", "mx:465", CURLUSESSL_NONE},
      {255, 25, "smtp://mx:25/me", "mx:25", CURLUSESSL_NONE},
      {0, 65536 + 25, "smtp://mx:25/me", "mx:25", CURLUSESSL_NONE},  // low 16 bits
      {0, 0, "smtp://mx/me", "mx:25", CURLUSESSL_NONE},              // the scheme's port
      {1, 0, "smtps://mx/me", "mx:465", CURLUSESSL_NONE},
  };
  for (const auto& c : cases) {
    MailSettings m;
    m.server = "mx";
    m.port = c.port;
    m.tls_mode = c.tls;
    MailEndpoint e = MailEndpointFor(m, "me");
    EXPECT_EQ(e.url, c.url) << int(c.tls) << " " << c.port;
    EXPECT_EQ(e.use_ssl, c.ssl) << int(c.tls) << " " << c.port;
    EXPECT_EQ(e.server, c.server) << int(c.tls) << " " << c.port;
  }
}

TEST_F(MailTest, AttachmentsArriveInOrderUnderTheirOwnNames) {
  const std::string binary("\x00\xff\r\n.\r\n\x80 end", 11);
  WriteFile(dir / "Umsätze März.xml", binary);
  WriteFile(dir / "third.txt", "");
  job.written_files = {dir / "first.csv", dir / "Umsätze März.xml", dir / "third.txt"};
  job.mail_to =
      "Ann Lee <ann@example.org>; \"Lee, Bob\" <bob@example.org>, carl@example.org (Carl)";
  settings.subject = "Bericht für März – täglich";
  const Smtp& s = shared_->plain;
  const int n = Send(s);

  EXPECT_EQ(s.Message(n, "defects.txt"), "");
  EXPECT_EQ(s.Message(n, "envelope.txt"),
            "from reports@example.org\nrcpt ann@example.org\nrcpt bob@example.org\n"
            "rcpt carl@example.org\ntls 0\n");
  const std::string headers = s.Message(n, "headers.txt");
  EXPECT_NE(headers.find("Subject: Bericht für März – täglich\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("From: reports@example.org\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("To: Ann Lee <ann@example.org>, \"Lee, Bob\" <bob@example.org>, carl@example.org\n"),
            std::string::npos) << headers;
  EXPECT_NE(headers.find("Date: "), std::string::npos) << headers;
  EXPECT_EQ(s.Message(n, "part-1.name"), "first.csv");
  EXPECT_EQ(s.Message(n, "part-1.bin"), "id;name\r\n1;Ann\r\n");
  EXPECT_EQ(s.Message(n, "part-2.name"), "Umsätze März.xml");
  EXPECT_EQ(s.Message(n, "part-2.bin"), binary);
  EXPECT_EQ(s.Message(n, "part-3.name"), "third.txt");
  EXPECT_EQ(s.Message(n, "part-3.bin"), "");
  EXPECT_FALSE(std::filesystem::exists(s.out + "/msg-" + std::to_string(n) + "/part-4.name"));
}

TEST_F(MailTest, HeadersAreWhatStrictReadersTakeAndReadBackExactly) {
  // Names with CJK, emoji, the characters that end or quote a parameter,
  // and one long enough to be continued over several lines.
  const std::string names[] = {"报告 2024年.csv", "😀 täglich.xml", ";\"'=?x?=.csv",
                               "月次売上レポート_東京本社_営業部_第一課_2024年度_最終版.csv"};
  job.written_files.clear();
  job.csv_code_page = 1;  // UTF-16 CSV
  for (const std::string& name : names) {
    const bool xml = name.find(".xml") != std::string::npos;
    WriteFile(dir / name, xml ? "<?xml version=\"1.0\"?>\r\n<DATAPACKET/>" : "\xFF\xFE" "1\0");
    job.written_files.push_back(dir / name);
  }
  std::string subject;
  while (subject.size() < 180 * 2) subject += "Überweisungen für März – 日本語 😀 ";
  subject = subject.substr(0, 359);  // whole characters, over 180 of them
  ASSERT_TRUE(IsValidUtf8(subject));
  settings.subject = subject;
  job.mail_to =
      "Zoë Ärger-Müllerström von Österreich-Ungarn <zoe@bücher.example>; "
      "ann@example.org, \"Lee, Bob\" <bob@example.org>, carl@例え.jp";
  const Smtp& s = shared_->plain;
  const int n = Send(s);

  EXPECT_EQ(s.Message(n, "defects.txt"), "");
  EXPECT_EQ(s.Message(n, "envelope.txt"),
            "from reports@example.org\nrcpt zoe@xn--bcher-kva.example\nrcpt ann@example.org\n"
            "rcpt bob@example.org\nrcpt carl@xn--r8jz45g.jp\ntls 0\n");
  const std::string headers = s.Message(n, "headers.txt");
  EXPECT_NE(headers.find("Subject: " + subject + "\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("To: Zoë Ärger-Müllerström von Österreich-Ungarn "
                         "<zoe@xn--bcher-kva.example>, ann@example.org, \"Lee, Bob\" "
                         "<bob@example.org>, carl@xn--r8jz45g.jp\n"),
            std::string::npos)
      << headers;
  for (size_t k = 0; k < std::size(names); ++k) {
    const std::string part = "part-" + std::to_string(k + 1);
    EXPECT_EQ(s.Message(n, part + ".name"), names[k]);
    EXPECT_EQ(s.Message(n, part + ".type"),
              k == 1 ? "application/xml None" : "text/csv utf-16") << names[k];
  }
  // The stand-in name for older readers holds no encoded word.
  const std::string raw = s.Message(n, "raw.eml");
  EXPECT_NE(raw.find("name=\";_'=_x?=.csv\""), std::string::npos) << raw.substr(0, 3000);
}

TEST_F(MailTest, AnAddressThatNeedsSmtpUtf8FailsBeforeAnythingIsSent) {
  job.mail_to = "ops@example.org, jörg@example.org";
  const Smtp& s = shared_->plain;
  const std::string events = s.Events();
  EXPECT_EQ(Failure(s.port()),
            "Exception: Sending Error: the address \"jörg@example.org\" has letters outside ASCII "
            "before its \"@\"; mail is sent without the SMTPUTF8 extension, which such an "
            "address needs");
  EXPECT_EQ(s.Events(), events);  // not even a connection's MAIL
}

TEST_F(MailTest, ATemplateGivesOneHtmlBodyAndNoAttachment) {
  db->results.push_back(
      {{{"CITY", FieldType::kString, 20}},
       {{Value::Text("Lyon")}, {Value::Text("Zürich")}, {Value::Text("\u00a0.")}}});
  conn.Open();
  query.set_rewindable(true);
  query.SetSql("select");
  query.Open();
  for (; !query.Eof(); query.Next()) {}
  WriteFile(dir / "report.mustache", "<ul>\n{{#frDataSet}}\n<li>{{city}}</li>\n{{/frDataSet}}\n</ul>\n");
  WriteFile(dir / "second.xml", "<x/>");
  job.written_files = {dir / "first.csv", dir / "second.xml", dir / "first.csv"};
  job.report_template = dir / "report.mustache";
  const Smtp& s = shared_->plain;
  const int n = Send(s);

  const std::string expected = RenderReport(job.report_template, query, DefaultFormatSettings());
  EXPECT_NE(expected.find("<li>Zürich</li>\n"), std::string::npos) << expected;
  EXPECT_EQ(s.Message(n, "body"), expected);
  EXPECT_EQ(s.Message(n, "defects.txt"), "");
  EXPECT_NE(s.Message(n, "raw.eml").find("\r\nContent-Type: text/html; CharSet = UTF-8\r\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(s.out + "/msg-" + std::to_string(n) + "/part-1.name"));

  // A missing template sends the empty report's document.
  job.report_template = dir / "gone.mustache";
  EXPECT_EQ(s.Message(Send(s), "body"), WrapReportBody(""));
}

// The report's date-times are those of the run's formats (format_locale),
// not of the process locale.
TEST_F(MailTest, TheReportWritesDateTimesInTheRunsFormats) {
  Value at;
  at.SetDateTime(EncodeDateTime(2015, 10, 8, 14, 3, 5));
  db->results.push_back({{{"AT", FieldType::kDateTime, 0}}, {{at}}});
  conn.Open();
  query.set_rewindable(true);
  query.SetSql("select");
  query.Open();
  for (; !query.Eof(); query.Next()) {}
  WriteFile(dir / "report.mustache", "{{#frDataSet}}[{{at}}]{{/frDataSet}}");
  job.written_files = {dir / "first.csv"};
  job.report_template = dir / "report.mustache";
  formats.short_date_format = "dd/mm/yyyy";
  formats.date_separator = '.';
  const Smtp& s = shared_->plain;
  const std::string body = s.Message(Send(s), "body");
  EXPECT_NE(body.find("[08.10.2015 14:03:05]"), std::string::npos) << body;
}

TEST_F(MailTest, NoWrittenFileSendsNothing) {
  job.written_files.clear();
  EXPECT_EQ(Failure(testing::UnusedPort()), "no failure");
}

TEST_F(MailTest, TlsModesAgainstRealServers) {
  struct { uint8_t tls; const Smtp* server; bool ca; const char* outcome; } cases[] = {
      {0, &shared_->plain, true, "tls 0"},
      {1, &shared_->implicit, true, "tls 1"},
      {2, &shared_->starttls, true, "tls 1"},
      {3, &shared_->starttls, true, "tls 1"},
      {3, &shared_->plain, true, "tls 0"},  // STARTTLS not offered: goes on unsecured
      {7, &shared_->plain, true, "tls 0"},  // no mode set: never secured
      {2, &shared_->plain, true, "ESMTPError: Authentication Error: "},
      {1, &shared_->plain, true, "ESMTPError: Connection Error: "},
      {0, &shared_->implicit, true, "ESMTPError: Connection Error: "},
      // Certificates are checked: a server whose CA is not trusted fails.
      {1, &shared_->implicit, false, "ESMTPError: Connection Error: "},
      {2, &shared_->starttls, false, "ESMTPError: Authentication Error: "},
  };
  for (const auto& c : cases) {
    settings.tls_mode = c.tls;
    if (!c.ca) limits.ca_file = dir / "no-such-ca.pem";
    const int before = c.server->Messages();
    const std::string failure = Failure(c.server->port());
    limits.ca_file = shared_->cert.cert;
    const std::string outcome(c.outcome);
    if (outcome.rfind("tls", 0) == 0) {
      EXPECT_EQ(failure, "no failure") << int(c.tls) << " " << c.server->out;
      ASSERT_EQ(c.server->Messages(), before + 1) << int(c.tls);
      EXPECT_NE(c.server->Message(before + 1, "envelope.txt").find(outcome), std::string::npos)
          << int(c.tls) << " " << c.server->out;
    } else {
      EXPECT_EQ(failure.rfind(outcome, 0), 0u) << int(c.tls) << " " << c.server->out << ": " << failure;
      EXPECT_EQ(c.server->Messages(), before) << int(c.tls);
    }
  }
}

TEST_F(MailTest, LogsInOnlyWithALoginAndNeverShowsThePassword) {
  const Smtp& s = shared_->auth;
  settings.login = "mailer";
  settings.password = "s3cret";
  Send(s);
  EXPECT_NE(s.Events().find("AUTH LOGIN mailer ok\nMAIL reports@example.org\n"), std::string::npos)
      << s.Events();

  settings.login = "";  // a stored password alone does not log in
  const size_t events = s.Events().size();
  Send(s);
  EXPECT_EQ(s.Events().substr(events).find("AUTH"), std::string::npos) << s.Events();

  settings.login = "mailer";
  settings.password = "wrong-pass";
  const std::string failure = Failure(s.port());
  EXPECT_EQ(failure.rfind("ESMTPError: Authentication Error: ", 0), 0u) << failure;
  EXPECT_NE(failure.find("535"), std::string::npos) << failure;
  EXPECT_EQ(failure.find("wrong-pass"), std::string::npos) << failure;
}

TEST_F(MailTest, AServerWithoutAuthLoginGetsTheMailWithoutLogin) {
  TempDir own;
  Smtp s(own, "plain-only", {"--auth", "mailer:s3cret", "--no-login-mechanism"});
  settings.login = "mailer";
  settings.password = "s3cret";
  Send(s);
  EXPECT_EQ(s.Events().find("AUTH"), std::string::npos) << s.Events();
}

TEST_F(MailTest, ARejectedRecipientFailsSendingAndStillSaysQuit) {
  TempDir own;
  Smtp s(own, "reject", {"--reject", "nobody"});
  job.mail_to = "ops@example.org, nobody@example.org";
  const std::string failure = Failure(s.port());
  EXPECT_EQ(failure.rfind("ESMTPError: Sending Error: ", 0), 0u) << failure;
  EXPECT_EQ(failure,
            "ESMTPError: Sending Error: mail server 127.0.0.1:" + std::to_string(s.port()) +
                ": RCPT failed: 550; server reply: "
                "550 5.1.1 <nobody@example.org>: recipient rejected");
  EXPECT_EQ(s.Messages(), 0);
  EXPECT_EQ(s.Events(), "MAIL reports@example.org\nRCPT ops@example.org\nRCPT nobody@example.org\nQUIT\n");
}

// A relay refuses a sender that is no address (the default one is a bare
// name): the failure says what to change, with the server's own words.
TEST_F(MailTest, ARefusedSenderSaysToSetTheSender) {
  TempDir own;
  Smtp s(own, "needs-domain", {"--sender-needs-domain"});
  settings.sender = "Ostrevane";
  const std::string failure = Failure(s.port());
  EXPECT_EQ(failure,
            "ESMTPError: Sending Error: mail server 127.0.0.1:" + std::to_string(s.port()) +
                ": the server refused the sender \"Ostrevane\"; set Sender in settings.ini "
                "to a mail address the server accepts (MAIL failed: 553; server reply: "
                "553 5.1.7 <Ostrevane>: Sender address rejected: need fully-qualified "
                "address)");
  EXPECT_EQ(s.Messages(), 0);

  settings.sender = "reports@example.org";  // the same server takes an address
  Send(s);
}

// A server that wants a login, or a smaller message, says so with its reply
// code: the failure names what to change, and is not tried again.
TEST_F(MailTest, ALoginOrASizeTheServerRequiresIsWhatTheFailureNames) {
  TempDir own;
  Smtp login_first(own, "login-first", {"--auth", "mailer:s3cret", "--auth-required"});
  Smtp plain_only(own, "plain-only",
                  {"--auth", "mailer:s3cret", "--auth-required", "--no-login-mechanism"});
  Smtp small(own, "small", {"--max-size", "100"});
  WriteFile(dir / "big.csv", std::string(500, 'x'));
  struct {
    const Smtp* server;
    const char* login;
    const char* says;
  } cases[] = {
      {&login_first, "",
       "Authentication Error: mail server 127.0.0.1:{port}: the server requires authentication "
       "before it takes mail; set Login in section Mail of settings.ini and the password with "
       "-setmailpwd (MAIL failed: 530; server reply: 530 5.7.0 Authentication required)"},
      {&plain_only, "mailer",
       "Authentication Error: mail server 127.0.0.1:{port}: the server requires authentication "
       "before it takes mail; it does not offer AUTH LOGIN, the only login method used (it "
       "offers PLAIN)"},
      {&small, "",
       "Sending Error: mail server 127.0.0.1:{port}: the server refused the message as too "
       "large (it is "},
  };
  for (const auto& row : cases) {
    settings.login = row.login;
    settings.password = "s3cret";
    job.written_files = {dir / "big.csv"};
    settings.port = row.server->port();
    FakeRetryClock clock;
    std::vector<std::string> notes;
    const std::string failure = testing::FailureOf(
        [&] { SendMailWithRetries(job, settings, query, DefaultFormatSettings(), limits, FakeRetries(3, clock, notes)); });
    std::string says = std::string("ESMTPError: ") + row.says;
    says.replace(says.find("{port}"), 6, std::to_string(row.server->port()));
    EXPECT_EQ(failure.substr(0, says.size()), says) << failure;
    EXPECT_TRUE(notes.empty()) << failure;
    EXPECT_EQ(row.server->Messages(), 0);
  }
  // The size: what was sent against what the server takes.
  settings.port = small.port();
  const std::string failure = Failure(small.port());
  EXPECT_NE(failure.find("bytes; MAIL failed: 552; server reply: 552 "), std::string::npos)
      << failure;
}

// Readers drop the blanks that begin or end a plain header value.
TEST_F(MailTest, ASubjectArrivesWithItsBlanks) {
  const Smtp& s = shared_->plain;
  for (const char* subject : {"  Nightly export  ", " ", "\tTabbed"}) {
    settings.subject = subject;
    const int n = Send(s);
    EXPECT_EQ(s.Message(n, "defects.txt"), "") << subject;
    EXPECT_NE(s.Message(n, "headers.txt").find(std::string("Subject: ") + subject + "\n"),
              std::string::npos)
        << s.Message(n, "headers.txt");
  }
}

TEST_F(MailTest, BadServersFailWithTheirPhaseAndNeverHang) {
  limits.connect_ms = 1500;
  limits.idle_ms = 1000;
  const std::string greet = "send:220 test ESMTP|recv|send:250 test|";
  struct { const char* script; const char* prefix; } cases[] = {
      {"", "ESMTPError: Connection Error: "},                                // never greets
      {"send:220 test ESMTP|recv|close", "ESMTPError: Connection Error: "},  // drops at EHLO
      {"send:554 go away", "ESMTPError: Connection Error: "},
      {"recv MAIL: stalls", "ESMTPError: Sending Error: "},
      {"recv MAIL: 250, RCPT: 250, DATA: 354, then closes", "ESMTPError: Sending Error: "},
  };
  for (const auto& c : cases) {
    std::string script = c.script;
    if (script == "recv MAIL: stalls") script = greet + "recv";
    if (script.rfind("recv MAIL: 250", 0) == 0)
      script = greet + "recv|send:250 ok|recv|send:250 ok|recv|send:354 go on|recv|close";
    ServerProcess server("scripted_server.py", {"--script", script});
    const auto start = std::chrono::steady_clock::now();
    const std::string failure = Failure(server.port());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(failure.rfind(c.prefix, 0), 0u) << c.script << ": " << failure;
    EXPECT_LT(took, std::chrono::seconds(4)) << c.script;
  }
  const int unused = testing::UnusedPort();
  const std::string refused = Failure(unused);
  EXPECT_EQ(refused.rfind("ESMTPError: Connection Error: mail server 127.0.0.1:" +
                              std::to_string(unused) + ": ",
                          0),
            0u)
      << refused;
}

TEST_F(MailTest, BadInputFailsBeforeAnythingIsSent) {
  const Smtp& s = shared_->plain;
  const int before = s.Messages();
  struct { std::function<void(MailTest&)> change; const char* start;
  } cases[] = {
      {[](MailTest& t) { std::filesystem::remove(t.dir / "first.csv"); },
       "EFOpenError: Sending Error: Cannot open file \""},
      {[](MailTest& t) { t.job.mail_to = " , ; (nobody)"; }, "Exception: Sending Error: "},
      {[](MailTest& t) {
         WriteFile(t.dir / "bad.mustache", "{{#frDataSet}}");
         t.job.report_template = t.dir / "bad.mustache";
       },
       "EReportError: Report template \""},
      {[](MailTest& t) { t.settings.server = ""; }, "Exception: Connection Error: "},
  };
  for (auto& c : cases) {
    SetUp();
    job.report_template.clear();
    c.change(*this);
    const std::string failure = Failure(s.port());
    EXPECT_EQ(failure.rfind(c.start, 0), 0u) << failure;
  }
  EXPECT_EQ(s.Messages(), before);
}

TEST_F(MailTest, TheCaFileComesFromTheEnvironment) {
  const Smtp& s = shared_->implicit;
  settings.tls_mode = 1;
  settings.port = s.port();
  setenv("OSTREVANE_CA_FILE", shared_->cert.cert.c_str(), 1);
  const int before = s.Messages();
  EXPECT_NO_THROW(MailFiles(job, settings, query, formats, DeliveryPolicy{600, {}}));
  unsetenv("OSTREVANE_CA_FILE");
  EXPECT_EQ(s.Messages(), before + 1);
}

TEST_F(MailTest, ABusyServerIsTriedAgainARefusedRecipientIsNot) {
  Smtp busy(dir, "busy", {"--busy", "2", "--reject", "nobody"});
  settings.port = busy.port();
  FakeRetryClock clock;
  std::vector<std::string> notes;
  EXPECT_EQ(testing::FailureOf([&] {
              SendMailWithRetries(job, settings, query, formats, limits,
                                  FakeRetries(3, clock, notes));
            }),
            "no failure");
  EXPECT_EQ(busy.Messages(), 1);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find("MAIL delivery failed, trying again in 60 s (retry 2 of 3): "),
            std::string::npos)
      << notes[1];
  EXPECT_NE(notes[1].find("451"), std::string::npos) << notes[1];

  notes.clear();
  job.mail_to = "nobody@example.org";
  const std::string failure = testing::FailureOf(
      [&] {
        SendMailWithRetries(job, settings, query, formats, limits, FakeRetries(3, clock, notes));
      });
  EXPECT_NE(failure.find("550"), std::string::npos) << failure;
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(busy.Messages(), 1);
}
}  // namespace
}  // namespace ostrevane::delivery
