// Deliveries wired into list runs: the real executable against real local
// SMTP, HTTP and FTP servers.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/server_process.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::ServerProcess;
using testing::TempDir;
using testing::WriteFile;

class ListRunDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20), sent INTEGER);
      INSERT INTO items VALUES (1, 'one', 0), (2, 'two', 0);)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
    WriteFile(dir / "mark.sql", "UPDATE items SET sent = 1 WHERE id = :id");
    std::filesystem::create_directories(dir / "smtp");
    std::filesystem::create_directories(dir / "http");
    std::filesystem::create_directories(dir / "ftp-root/in");
    std::filesystem::create_directories(dir / "ftp");
  }

  void Settings(int smtp, int http, int ftp) {
    WriteFile(dir / "settings.ini",
              "[Ostrevane]\nthread_count=2\n"
              "[Mail]\nSMTPServer=127.0.0.1\nSMTPPort=" +
                  std::to_string(smtp) +
                  "\nSender=batch@example.org\nSubject=Nightly\n"
                  "[HTTP]\nServer=http://127.0.0.1:" +
                  std::to_string(http) +
                  "/upload\n"
                  "[FTP]\nServer=127.0.0.1:" +
                  std::to_string(ftp) + "\n");
  }

  testing::ProgramResult RunList(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  TempDir dir;
};

TEST_F(ListRunDeliveryTest, FilesGoOutByMailHttpAndFtpInThatOrder) {
  ServerProcess smtp("smtp_server.py", {"--out", dir / "smtp"});
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "200"});
  ServerProcess ftp("ftp_server.py",
                    {"--out", dir / "ftp", "--root", dir / "ftp-root", "--anonymous"});
  Settings(smtp.port(), http.port(), ftp.port());
  auto r = RunList(
      "-udl:t.udl -sql:items.sql -tocsv:out/items.csv -csvcp:0 -toxml:out/items.xml "
      "-mail:ops@example.org -http -ftpdir:in -postrecsql:mark.sql\n");
  ASSERT_EQ(r.exit_code, 0) << r.out;

  const std::vector<std::string> lines = SplitLines(r.out);
  std::vector<std::string> notes;
  for (const std::string& l : lines)
    if (l.find("[NOTE]") != std::string::npos) notes.push_back(l.substr(l.find("[NOTE]") + 10));
  const std::string http_url = "http://127.0.0.1:" + std::to_string(http.port()) + "/upload";
  const std::string ftp_host = "127.0.0.1:" + std::to_string(ftp.port());
  const std::string job = "job 1, line 1: ";
  EXPECT_EQ(
      notes,
      (std::vector<std::string>{
          job + "executing SQL", job + "saved file out/items.csv", job + "saved file out/items.xml",
          job + "files sent by MAIL to ops@example.org", job + "files sent by HTTP to " + http_url,
          job + "files sent by FTTP to " + ftp_host + "(in)",
          job + "Post-SQL query for records executed", job + "Done"}));

  EXPECT_EQ(ReadFile(dir / "smtp/msg-1/part-1.name"), "items.csv");
  EXPECT_EQ(ReadFile(dir / "smtp/msg-1/part-1.bin"), "1;one\r\n2;two");
  EXPECT_EQ(ReadFile(dir / "smtp/msg-1/part-2.name"), "items.xml");
  EXPECT_EQ(ReadFile(dir / "http/req-1.body"), "1;one\r\n2;two");
  EXPECT_EQ(ReadFile(dir / "http/req-2.body"), ReadFile(dir / "out/items.xml"));
  // Each post names what the writer wrote.
  EXPECT_NE(ReadFile(dir / "http/req-1.head").find("Content-Type: text/csv; charset=UTF-8\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(dir / "http/req-2.head").find("Content-Type: application/xml\n"),
            std::string::npos);
  // FTP stores the files byte for byte, CR LF line ends included.
  EXPECT_EQ(ReadFile(dir / "ftp-root/in/items.xml"), ReadFile(dir / "out/items.xml"));
  EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT SUM(sent) FROM items"),
            (std::vector<std::vector<std::string>>{{"2"}}));
}

// A delivering job keeps every file it wrote open until its deliveries
// end: a job with more files than the usual soft limit of open files
// (1024, which the program inherits here) still sends all of them.
TEST_F(ListRunDeliveryTest, MoreFilesThanTheSoftOpenFileLimitAllGoOut) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 2048)
    GTEST_SKIP() << "the hard limit of open files is " << saved.rlim_max;
  ServerProcess ftp("ftp_server.py",
                    {"--out", dir / "ftp", "--root", dir / "ftp-root", "--anonymous"});
  Settings(testing::UnusedPort(), testing::UnusedPort(), ftp.port());
  WriteFile(dir / "many.sql",
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1100) "
            "SELECT i FROM n");
  rlimit low = saved;
  low.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  auto r = RunList("-udl:t.udl -sql:many.sql -tocsv:out/:i.csv -ftpdir:in\n");
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(r.exit_code, 0) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  size_t sent = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "ftp-root/in"))
    sent += entry.path().extension() == ".csv";
  EXPECT_EQ(sent, 1100u);
}

// Compressed files go out as they are written, under their compressed
// names: a receiver keeps the file, never a decoded body.
TEST_F(ListRunDeliveryTest, CompressedFilesGoOutUnderTheirCompressedNames) {
  ServerProcess smtp("smtp_server.py", {"--out", dir / "smtp"});
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "200"});
  ServerProcess ftp("ftp_server.py",
                    {"--out", dir / "ftp", "--root", dir / "ftp-root", "--anonymous"});
  Settings(smtp.port(), http.port(), ftp.port());
  // One run after the other: the servers number what they receive.
  for (const char* files : {"-tocsv:out/items.csv -tojson:out/items.jsonl -compress:gzip",
                            "-tocsv:out/z.csv -tojson:out/z.jsonl -compress:zstd"}) {
    auto r = RunList(std::string("-udl:t.udl -sql:items.sql ") + files +
                     " -mail:ops@example.org -http -ftpdir:in\n");
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
  const struct {
    const char* name;
    const char* type;
  } files[] = {{"items.csv.gz", "application/gzip"},
               {"items.jsonl.gz", "application/gzip"},
               {"z.csv.zst", "application/zstd"},
               {"z.jsonl.zst", "application/zstd"}};
  for (size_t i = 0; i < std::size(files); ++i) {
    const std::string n = std::to_string(i + 1), bytes = ReadFile(dir / (std::string("out/") + files[i].name));
    const std::string part = "smtp/msg-" + std::to_string(i / 2 + 1) + "/part-" +
                             std::to_string(i % 2 + 1);
    EXPECT_EQ(ReadFile(dir / (part + ".name")), files[i].name);
    EXPECT_EQ(ReadFile(dir / (part + ".type")), std::string(files[i].type) + " None");
    EXPECT_TRUE(ReadFile(dir / (part + ".bin")) == bytes) << files[i].name;
    const std::string head = ReadFile(dir / ("http/req-" + n + ".head"));
    EXPECT_NE(head.find(std::string("Content-Type: ") + files[i].type + "\n"), std::string::npos)
        << head;
    EXPECT_EQ(head.find("Content-Encoding"), std::string::npos) << head;
    EXPECT_TRUE(ReadFile(dir / ("http/req-" + n + ".body")) == bytes) << files[i].name;
    EXPECT_TRUE(ReadFile(dir / (std::string("ftp-root/in/") + files[i].name)) == bytes) << files[i].name;
  }
}

TEST_F(ListRunDeliveryTest, AFailedDeliveryRollsTheJobBackAndSkipsTheRest) {
  ServerProcess smtp("smtp_server.py", {"--out", dir / "smtp"});
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "404"});
  Settings(smtp.port(), http.port(), testing::UnusedPort());
  auto r = RunList(
      "-udl:t.udl -sql:items.sql -tocsv:out/items.csv -mail:ops@example.org -http -ftp "
      "-postrecsql:mark.sql\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("files sent by MAIL to ops@example.org"), std::string::npos);
  const std::string url = "http://127.0.0.1:" + std::to_string(http.port()) + "/upload";
  const size_t error = r.out.find("[ERROR]   job 1, line 1: HTTP POST to " + url + ": ");
  ASSERT_NE(error, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("404", error), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("FTTP"), std::string::npos);
  EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT SUM(sent) FROM items"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");  // The report lists the deliveries attempted, the failed one last; the
  // FTP upload never started.
  const std::string report = ReadFile(dir / "log/RESULT.json");
  EXPECT_NE(report.find("\"deliveries\": [\n"
                        "        {\n"
                        "          \"kind\": \"mail\",\n"
                        "          \"target\": \"ops@example.org\",\n"
                        "          \"status\": \"sent\"\n"
                        "        },\n"
                        "        {\n"
                        "          \"kind\": \"http\",\n"
                        "          \"target\": \"" + url + "\",\n"
                        "          \"status\": \"failed\"\n"
                        "        }\n"
                        "      ]"),
            std::string::npos)
      << report;
}

TEST_F(ListRunDeliveryTest, AServerThatKeepsDrippingFailsTheJobAtTheDeliveryTimeout) {
  // Each server sends a line every 0.4 s and never ends: the idle time-outs
  // never run out, the delivery_timeout of 2 s does.
  std::string greeting_drip;
  for (int i = 0; i < 200; ++i) greeting_drip += "send:220-still here|sleep:0.4|";
  ServerProcess smtp("scripted_server.py", {"--script", greeting_drip});
  ServerProcess http("http_server.py", {"--out", dir / "http", "--plan", "drip", "--delay", "0.4"});
  ServerProcess ftp("scripted_server.py", {"--script", greeting_drip});
  Settings(smtp.port(), http.port(), ftp.port());
  WriteFile(dir / "settings.ini", ReplaceAll(ReadFile(dir / "settings.ini"), "thread_count=2\n",
                                             "thread_count=3\ndelivery_timeout=2\n"));
  const auto start = std::chrono::steady_clock::now();
  // Read-only jobs: they share the database file, so the three deliveries
  // run at the same time.
  auto r = RunList(
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/mail.csv -mail:ops@example.org\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/http.csv -http\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/ftp.csv -ftp\n");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::string timed_out =
      "Timed out: the delivery took longer than the delivery_timeout of 2 s";
  for (const char* failed : {"Connection Error: mail server 127.0.0.1:",
                             "HTTP POST to http://127.0.0.1:", "FTP server 127.0.0.1:"})
    EXPECT_NE(r.out.find(failed), std::string::npos) << failed << "\n" << r.out;
  size_t errors = 0;
  for (const std::string& line : SplitLines(r.out))
    errors +=
        line.find("[ERROR]") != std::string::npos && line.find(timed_out) != std::string::npos;
  EXPECT_EQ(errors, 3u) << r.out;
  EXPECT_LT(took, std::chrono::seconds(8));  // the idle time-outs alone take 10 s and more
  EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT SUM(sent) FROM items"),
            (std::vector<std::vector<std::string>>{{"0"}}));
}

// A delivery option whose server settings.ini does not name fails its job
// (and the run) instead of being skipped, also in a job that takes the
// delivery from the line above.
TEST_F(ListRunDeliveryTest, DeliveryWithoutAServerFailsTheJob) {
  WriteFile(dir / "settings.ini", "[Ostrevane]\nthread_count=1\n");
  auto r = RunList(
      "-udl:t.udl -sql:items.sql -tocsv:out/a.csv -http -postrecsql:mark.sql\n"
      "-sql:items.sql -tocsv:out/b.csv\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/c.csv -ftp\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/d.csv -ftpdir:in\n"
      "-clear -udl:t.udl -sql:items.sql -tocsv:out/e.csv -mail:ops@example.org\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  std::vector<std::string> errors;
  for (const std::string& line : SplitLines(r.out))
    if (line.find("[ERROR]") != std::string::npos)
      errors.push_back(line.substr(line.find("[ERROR]") + 10));
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "job 1, line 1: no HTTP server is set in settings.ini",
                        "job 2, line 2: no HTTP server is set in settings.ini",
                        "job 3, line 3: no FTP server is set in settings.ini",
                        "job 4, line 4: no FTP server is set in settings.ini",
                        "job 5, line 5: Connection Error: no SMTP server is set in settings.ini",
                    }));
  EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT SUM(sent) FROM items"),
            (std::vector<std::vector<std::string>>{{"0"}}));
}

}  // namespace
}  // namespace ostrevane
