// Delivery to S3-compatible object storage in list runs: the real
// executable against s3rver behind a proxy that verifies every signature
// (tests/servers/s3_server.py).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/json_reader.h"
#include "common/sha256.h"
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

constexpr char kSecret[] = "s3-Secret/of+the-test";

class ListRunS3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string s3rver = std::filesystem::path(OSTREVANE_EXE).parent_path().string() +
                               "/s3rver/node_modules/s3rver/bin/s3rver.js";
    ASSERT_TRUE(std::filesystem::exists(s3rver))
        << s3rver << " is missing: scripts/setup installs it";
    server_args = {"--s3rver", s3rver,       "--out",        dir / "s3", "--bucket", "exports",
                   "--region", "eu-north-1", "--access-key", "AKIDLIST", "--secret", kSecret};
    std::filesystem::create_directories(dir / "s3");
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, name VARCHAR(20));
      INSERT INTO items VALUES (1, 'one'), (2, 'two');)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, name FROM items ORDER BY id");
  }
  std::string Settings(int port, const std::string& scheme, const std::string& more = "") const {
    return "[S3]\nEndpoint=" + scheme + "://127.0.0.1:" + std::to_string(port) +
           "\nRegion=eu-north-1\nBucket=exports\nPathStyle=1\nAccessKey=AKIDLIST\n" + more;
  }
  testing::ProgramResult Run(const std::vector<std::string>& args, const std::string& list = "") {
    if (!list.empty()) WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram(args, dir.path(), dir.path(), {{"OSTREVANE_CA_FILE", ca_file}});
  }
  std::string Requests() const {
    return std::filesystem::exists(dir / "s3/requests.log") ? ReadFile(dir / "s3/requests.log")
                                                            : "";
  }
  std::string Object(const std::string& key) const {
    return dir / ("s3/store/exports/" + key + "._S3rver_object");
  }

  TempDir dir;
  std::vector<std::string> server_args;
  std::string ca_file;
};

TEST_F(ListRunS3Test, ObjectsAreInTheRunReportAndTheSecretIsNowhere) {
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  ca_file = cert.cert;
  server_args.insert(server_args.end(), {"--cert", cert.cert, "--key", cert.key});
  ServerProcess s3("s3_server.py", server_args);
  WriteFile(dir / "settings.ini", Settings(s3.port(), "https"));
  ASSERT_EQ(Run({"-sets3secret:" + std::string(kSecret)}).exit_code, 0);
  const std::string settings = ReadFile(dir / "settings.ini");
  EXPECT_EQ(settings.find(kSecret), std::string::npos) << settings;
  EXPECT_NE(settings.find("Secret="), std::string::npos) << settings;

  // The second line takes the target, prefix included, from the first,
  // and writes i.xml again (-toxml comes from above), with other bytes of
  // the same size. The two jobs run side by side: whichever renames i.xml
  // second may do so before the other has sent its own; each job still
  // sends the bytes it wrote, under the SHA-256 it took of them (the
  // server refuses any other).
  WriteFile(dir / "upper.sql", "SELECT id, upper(name) AS name FROM items ORDER BY id");
  auto r = Run({"-list:jobs.txt"},
               "-udl:t.udl -sql:items.sql -tocsv:out/i.csv -toxml:out/i.xml -s3:daily\n"
               "-sql:upper.sql -tocsv:out/j.csv\n");
  EXPECT_EQ(r.exit_code, 0) << r.out << Requests();
  size_t sent = 0;
  for (const std::string& line : SplitLines(r.out))
    sent += line.find("files sent by S3 to s3://exports/daily") != std::string::npos;
  EXPECT_EQ(sent, 2u) << r.out;
  for (const char* name : {"i.csv", "j.csv"})
    EXPECT_EQ(ReadFile(Object(std::string("daily/") + name)),
              ReadFile(dir / ("out/" + std::string(name))));
  EXPECT_EQ(SplitLines(Requests()).size(), 4u) << Requests();

  const JsonValue report = ParseJson(ReadFile(dir / "log/RESULT.json"));
  const auto& jobs = report.Find("jobs")->items;
  ASSERT_EQ(jobs.size(), 2u);
  // Each job lists the i.xml it wrote; the object is the one sent last,
  // the file the one renamed last: each is one of the two.
  std::vector<std::string> xml_digests;
  for (const JsonValue& job : jobs)
    for (const JsonValue& file : job.Find("files")->items)
      if (file.Find("path")->text.ends_with("i.xml"))
        xml_digests.push_back(file.Find("sha256")->text);
  ASSERT_EQ(xml_digests.size(), 2u);
  EXPECT_NE(xml_digests[0], xml_digests[1]);
  for (const std::string& bytes : {ReadFile(Object("daily/i.xml")), ReadFile(dir / "out/i.xml")})
    EXPECT_NE(std::find(xml_digests.begin(), xml_digests.end(), Sha256Hex(bytes)),
              xml_digests.end())
        << bytes;
  // Each job sent its own i.xml: the bodies of the two PUTs are the two.
  std::vector<std::string> put_digests;
  for (const std::string& line : SplitLines(Requests()))
    if (line.starts_with("PUT /exports/daily/i.xml "))
      put_digests.push_back(line.substr(line.rfind(' ') + 1));
  std::sort(put_digests.begin(), put_digests.end());
  std::sort(xml_digests.begin(), xml_digests.end());
  EXPECT_EQ(put_digests, xml_digests) << Requests();
  const JsonValue& delivery = jobs[0].Find("deliveries")->items.at(0);
  EXPECT_EQ(delivery.Find("kind")->text, "s3");
  EXPECT_EQ(delivery.Find("target")->text, "s3://exports/daily");
  EXPECT_EQ(delivery.Find("status")->text, "sent");
  const auto& objects = delivery.Find("objects")->items;
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].Find("bucket")->text, "exports");
  EXPECT_EQ(objects[0].Find("key")->text, "daily/i.csv");
  EXPECT_EQ(objects[1].Find("key")->text, "daily/i.xml");
  EXPECT_EQ(objects[0].Find("etag")->text.size(), 32u);

  // A secret that is not the key's: the job fails at once, saying so.
  ASSERT_EQ(Run({"-sets3secret:not-the-secret"}).exit_code, 0);
  r = Run({"-list:jobs.txt"}, "-udl:t.udl -sql:items.sql -tocsv:out/k.csv -s3\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("SignatureDoesNotMatch"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(Object("k.csv")));
  for (const auto& entry : std::filesystem::directory_iterator(dir / "log"))
    EXPECT_EQ(ReadFile(entry.path()).find("not-the-secret"), std::string::npos) << entry.path();
  EXPECT_EQ(r.out.find("not-the-secret"), std::string::npos);
  EXPECT_EQ(r.out.find(kSecret), std::string::npos);
}

// SIGTERM while a file goes up in parts: the run ends within seconds, the
// upload is aborted, and the bucket has neither the object nor its parts.
TEST_F(ListRunS3Test, AStopInTheMiddleOfAMultipartUploadLeavesNothing) {
  server_args.insert(server_args.end(), {"--slow-parts", "2"});
  ServerProcess s3("s3_server.py", server_args);
  WriteFile(dir / "settings.ini",
            "[Ostrevane]\ndelivery_retries=2\ndelivery_retry_delay=0\n" +
                Settings(s3.port(), "http", "MultipartThreshold=5\nPartSize=5\n"));
  ASSERT_EQ(Run({"-sets3secret:" + std::string(kSecret)}).exit_code, 0);
  // About 23 MiB of UTF-16 text: five parts.
  WriteFile(dir / "many.sql",
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
            "SELECT i, printf('%050d', i) AS pad FROM n");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:many.sql -tocsv:out/many.csv -s3\n");
  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  bool part_stored = false;
  for (int i = 0; i < 6000 && !part_stored; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    part_stored = Requests().find("partNumber=1&") != std::string::npos;
  }
  ASSERT_TRUE(part_stored) << Requests();
  const auto stop = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(10));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(ReadFile(dir / "log/RESULT.TXT"), "ERROR");
  const std::string requests = Requests();
  EXPECT_NE(requests.find("DELETE /exports/many.csv?uploadId="), std::string::npos) << requests;
  EXPECT_EQ(requests.find("POST /exports/many.csv?uploadId="), std::string::npos) << requests;
  EXPECT_FALSE(std::filesystem::exists(Object("many.csv")));
  const std::string uploads = dir / "s3/store/exports/._S3rver_uploads";
  EXPECT_TRUE(!std::filesystem::exists(uploads) || std::filesystem::is_empty(uploads));
}

}  // namespace
}  // namespace ostrevane
