#include "delivery/s3_put.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "common/error.h"
#include "common/sha256.h"
#include "common/text.h"
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

constexpr char kSecret[] = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";

S3Settings Store(const std::string& endpoint, const std::string& bucket, bool path_style) {
  S3Settings s3;
  s3.endpoint = endpoint;
  s3.bucket = bucket;
  s3.path_style = path_style;
  return s3;
}

TEST(S3AddressTest, EndpointBucketAndKeyMakeTheObjectUrl) {
  struct {
    const char* endpoint;
    const char* bucket;
    bool path_style;
    const char* prefix;
    const char* url;  // of file "a b.csv"
  } cases[] = {
      {"https://s3.eu-central-1.amazonaws.com", "exports", false, "daily",
       "https://exports.s3.eu-central-1.amazonaws.com/daily/a%20b.csv"},
      {"s3.example.org/", "exports", false, "/in/day 1/",
       "https://exports.s3.example.org/in/day%201/a%20b.csv"},
      {"http://minio.local:9000", "my.bucket", false, "",
       "http://my.bucket.minio.local:9000/a%20b.csv"},
      {"https://127.0.0.1:9000", "Old_Bucket", true, "x/../y",
       "https://127.0.0.1:9000/Old_Bucket/x/../y/a%20b.csv"},
      {"https://[::1]:9000", "b", true, "ü+=", "https://[::1]:9000/b/%C3%BC%2B%3D/a%20b.csv"},
  };
  for (const auto& c : cases) {
    const S3Location at = S3LocationFor(Store(c.endpoint, c.bucket, c.path_style));
    EXPECT_EQ(at.ObjectUrl(S3ObjectKey(c.prefix, "a b.csv")), c.url) << c.endpoint;
  }
  struct {
    const char* endpoint;
    const char* bucket;
    bool path_style;
    const char* says;
  } bad[] = {
      {"", "b", true, "no S3 endpoint is set in settings.ini"},
      {"https://h", " ", true, "no S3 bucket is set in settings.ini"},
      {"ftp://h", "b", true, "must begin with https:// or http://"},
      {"https://h/path", "b", true, "without a path"},
      {"https://h:99999", "b", true, "has no valid port"},
      {"https://10.0.0.1", "bucket", false, "is an address: set PathStyle=1"},
      {"https://h", "my.bucket", false, "that its certificate covers: set PathStyle=1"},
      {"https://h", "Upper", false, "cannot be part of a host name: set PathStyle=1"},
  };
  for (const auto& c : bad) {
    const std::string failure =
        testing::FailureOf([&] { S3LocationFor(Store(c.endpoint, c.bucket, c.path_style)); });
    EXPECT_NE(failure.find(c.says), std::string::npos) << c.endpoint << ": " << failure;
  }
}

TEST(S3AddressTest, PartsAreAtLeastPartSizeAndAtMostTenThousand) {
  constexpr int64_t kMiB = 1 << 20;
  S3Settings s3;
  EXPECT_EQ(S3PartSize(s3, 200 * kMiB), 16 * kMiB);
  EXPECT_EQ(S3PartSize(s3, 160000 * kMiB), 16 * kMiB);  // exactly 10,000 parts
  EXPECT_EQ(S3PartSize(s3, 160000 * kMiB + 1), 17 * kMiB);
  for (int32_t bad : {4, 0, -1, 5121}) {
    s3.part_size_mib = bad;
    EXPECT_NE(
        testing::FailureOf([&] { S3PartSize(s3, 1); }).find("PartSize is " + std::to_string(bad)),
        std::string::npos);
  }
  s3.part_size_mib = 16;
  s3.multipart_threshold_mib = 3;
  EXPECT_NE(testing::FailureOf([&] {
              S3PartSize(s3, 1);
            }).find("MultipartThreshold is 3; it must be from 5 to 5120"),
            std::string::npos);
}

TEST(S3AddressTest, CredentialsComeFromSettingsOrElseFromTheEnvironment) {
  struct {
    const char* access_key;  // settings.ini
    const char* secret;
    const char* env_key;  // AWS_ACCESS_KEY_ID, null: unset
    const char* env_secret;
    const char* env_token;
    const char* result;  // "key secret token" or the start of the error
  } cases[] = {
      {"AKSETTINGS", "s1", "AKENV", "s2", "t2", "AKSETTINGS s1 "},
      {"", "", "AKENV", "s2", "t2", "AKENV s2 t2"},
      {"", "", "AKENV", "s2", nullptr, "AKENV s2 "},
      {"AKSETTINGS", "", "AKENV", "s2", nullptr,
       "ES3Error: section S3 of settings.ini names AccessKey"},
      {"", "", nullptr, "s2", nullptr, "ES3Error: no S3 access key"},
  };
  for (const auto& c : cases) {
    S3Settings s3;
    s3.access_key = c.access_key;
    s3.secret = c.secret;
    const std::pair<const char*, const char*> env[] = {{"AWS_ACCESS_KEY_ID", c.env_key},
                                                       {"AWS_SECRET_ACCESS_KEY", c.env_secret},
                                                       {"AWS_SESSION_TOKEN", c.env_token}};
    for (const auto& [name, value] : env) value ? setenv(name, value, 1) : unsetenv(name);
    std::string result;
    try {
      const S3Credentials got = S3CredentialsFor(s3);
      result = got.access_key + " " + got.secret + " " + got.session_token;
    } catch (const Error& e) {
      result = e.class_name() + ": " + e.message();
    }
    for (const auto& [name, value] : env) unsetenv(name);
    EXPECT_EQ(result.rfind(c.result, 0), 0u) << result;
  }
}

TEST(S3AddressTest, XmlElementsAreFoundAndDecoded) {
  const std::string xml =
      "<CompleteMultipartUploadResult><Key>a&amp;b</"
      "Key><ETag>&quot;3858f62230ac3c915f300c664312c11f-9&quot;"
      "</ETag></CompleteMultipartUploadResult>";
  EXPECT_EQ(XmlElementText(xml, "ETag"), "\"3858f62230ac3c915f300c664312c11f-9\"");
  EXPECT_EQ(XmlElementText(xml, "Key"), "a&b");
  EXPECT_EQ(XmlElementText(xml, "UploadId"), "");
}

// The path of the fake S3 server that scripts/setup installs beside the
// test executable's build.
std::string S3rverScript() {
  return std::filesystem::path(OSTREVANE_EXE).parent_path().string() +
         "/s3rver/node_modules/s3rver/bin/s3rver.js";
}

// Whether two files hold the same bytes, read a block at a time.
bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::string p(1 << 20, '\0'), q(1 << 20, '\0');
  while (x && y) {
    x.read(p.data(), p.size());
    y.read(q.data(), q.size());
    if (x.gcount() != y.gcount() || p.compare(0, x.gcount(), q, 0, y.gcount()) != 0) return false;
  }
  return x.eof() && y.eof();
}

// A file of `mib` MiB whose every block differs.
void WriteBigFile(const std::string& path, int mib) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  for (int m = 0; m < mib; ++m) {
    for (size_t i = 0; i < block.size(); i += 8) block[i] = char((m * 131 + i / 8) % 251);
    out.write(block.data(), block.size());
  }
}

// Against s3rver behind a proxy that verifies every signature
// (tests/servers/s3_server.py), over TLS with a certificate of its own.
struct S3PutTest : ::testing::Test {
  TempDir dir;
  testing::TestCertificate cert = testing::MakeTestCertificate(dir.path());
  std::string out = dir / "s3";
  std::unique_ptr<ServerProcess> server;
  Job job;
  S3Settings s3;
  TransferLimits limits;
  FakeRetryClock clock;
  std::vector<std::string> notes;
  std::vector<StoredObject> stored;

  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(S3rverScript()))
        << S3rverScript() << " is missing: scripts/setup installs it";
    std::filesystem::create_directories(out);
    WriteFile(dir / "local/a.csv", "id;name\r\n1;Ann\r\n");
    WriteFile(dir / "local/b.xml", "<?xml version=\"1.0\"?><b/>");
    job.written_files = {dir / "local/a.csv", dir / "local/b.xml"};
    s3.region = "eu-west-3";
    s3.bucket = "exports";
    s3.path_style = true;
    s3.access_key = "AKIDTEST";
    s3.secret = kSecret;
    limits.connect_ms = 10000;
    limits.idle_ms = 20000;
    limits.ca_file = cert.cert;
  }
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--s3rver",     S3rverScript(), "--out",    out,
                                     "--bucket",     "exports",      "--region", "eu-west-3",
                                     "--access-key", "AKIDTEST",     "--secret", kSecret,
                                     "--cert",       cert.cert,      "--key",    cert.key};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<ServerProcess>("s3_server.py", args);
    s3.endpoint = "https://127.0.0.1:" + std::to_string(server->port());
  }
  std::string Failure(int retries = 0, const StopFlag* stop = nullptr) {
    stored.clear();
    RetryPolicy policy = FakeRetries(retries, clock, notes);
    policy.stop = stop;
    return testing::FailureOf([&] { PutObjectsWithRetries(job, s3, limits, policy, stored); });
  }
  // The requests the server saw: "METHOD PATH STATUS VERDICT BYTES SHA256".
  std::vector<std::string> Requests() const {
    const std::string log = out + "/requests.log";
    return std::filesystem::exists(log) ? SplitLines(ReadFile(log)) : std::vector<std::string>();
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : Requests()) n += line.find(text) != std::string::npos;
    return n;
  }
  std::string Object(const std::string& key) const {
    return out + "/store/exports/" + key + "._S3rver_object";
  }
  // Multipart uploads begun and neither completed nor aborted.
  size_t OpenUploads() const {
    const std::string folder = out + "/store/exports/._S3rver_uploads";
    if (!std::filesystem::exists(folder)) return 0;
    return size_t(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()));
  }
  std::string Target() const {
    return "ES3Error: S3 bucket exports at 127.0.0.1:" + std::to_string(server->port()) + ": ";
  }
};

TEST_F(S3PutTest, EveryFileInOneSignedPutThatNamesItsSha256) {
  const std::string a_path = dir / "local/a.csv";
  const std::string a_bytes = ReadFile(a_path);
  const std::string a_sha = Sha256Hex(a_bytes);
  const std::string stale(64, '0');
  struct {
    const char* name;
    bool digest;  // the writer's digest is listed
    std::string sha256;
    bool kept;            // the job kept the file open
    bool replaced;        // another file of the same size took its name since
    const char* failure;  // "" for none
  } cases[] = {
      {"digests of the writers", true, a_sha, true, false, ""},
      {"no digests: taken now", false, "", false, false, ""},
      // Opened by name, the file may be another job's: its digest is taken.
      {"a digest without the written file", true, stale, false, false, ""},
      // A later job replaced the file: the job still sends its own bytes.
      {"the file replaced since", true, a_sha, true, true, ""},
      // The bytes the job wrote changed after the writer took its digest.
      {"a stale digest", true, stale, true, false,
       "the bytes that arrived do not have the SHA-256 the file had when it was written "
       "(HTTP status 400, XAmzContentSHA256Mismatch"},
  };
  Start();
  job.s3_prefix = "daily/run 1";
  for (const auto& c : cases) {
    std::filesystem::remove_all(out + "/store/exports/daily");
    std::filesystem::remove(out + "/requests.log");
    WriteFile(a_path, a_bytes);
    job.written_digests.clear();
    if (c.digest) {
      job.written_digests.push_back({a_path, 16, c.sha256});
      if (c.kept)
        job.written_digests.back().kept =
            std::make_shared<const UniqueFd>(::open(a_path.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (c.replaced) {
      WriteFile(a_path + ".new", std::string(16, 'x'));
      std::filesystem::rename(a_path + ".new", a_path);
    }
    const std::string failure = Failure(2);
    if (*c.failure) {
      EXPECT_EQ(failure.rfind(Target() + c.failure, 0), 0u) << c.name << ": " << failure;
      EXPECT_FALSE(std::filesystem::exists(Object("daily/run 1/a.csv"))) << c.name;
      continue;
    }
    EXPECT_EQ(failure, "no failure") << c.name;
    const std::vector<std::string> requests = Requests();
    ASSERT_EQ(requests.size(), 2u) << c.name;
    EXPECT_EQ(requests[0].rfind("PUT /exports/daily/run%201/a.csv 200 verified 16 " + a_sha, 0), 0u)
        << requests[0];
    EXPECT_EQ(requests[1].rfind("PUT /exports/daily/run%201/b.xml 200 verified ", 0), 0u)
        << requests[1];
    EXPECT_EQ(ReadFile(Object("daily/run 1/a.csv")), a_bytes) << c.name;
    EXPECT_TRUE(SameBytes(Object("daily/run 1/b.xml"), dir / "local/b.xml")) << c.name;
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].bucket, "exports");
    EXPECT_EQ(stored[0].key, "daily/run 1/a.csv");
    EXPECT_EQ(stored[1].key, "daily/run 1/b.xml");
    // s3rver's ETag of a single PUT is the MD5 of the bytes.
    EXPECT_EQ(stored[0].etag, "504eaa09c6de323b43b109561b274c2a");
    // The object says what the file is.
    EXPECT_NE(ReadFile(out + "/store/exports/daily/run 1/b.xml._S3rver_metadata.json")
                  .find("application/xml"),
              std::string::npos);
  }
  EXPECT_TRUE(notes.empty());
}

TEST_F(S3PutTest, ALargeFileGoesInPartsAndAppearsOnlyWhenComplete) {
  WriteBigFile(dir / "local/big.bin", 200);
  job.written_files = {dir / "local/big.bin"};
  Start();
  EXPECT_EQ(Failure(), "no failure");
  EXPECT_EQ(Count("POST /exports/big.bin?uploads= 200 verified"), 1u);
  EXPECT_EQ(Count("PUT /exports/big.bin?partNumber="), 13u);  // 12 of 16 MiB and one of 8
  EXPECT_EQ(Count(" 200 verified 16777216 "), 12u);
  EXPECT_EQ(Count("PUT /exports/big.bin?partNumber=13&uploadId="), 1u);
  EXPECT_EQ(Count(" 200 verified 8388608 "), 1u);
  EXPECT_EQ(Count("POST /exports/big.bin?uploadId="), 1u);
  EXPECT_EQ(Count(" verified "), Requests().size()) << "every signature verifies";
  EXPECT_TRUE(SameBytes(Object("big.bin"), dir / "local/big.bin"));
  EXPECT_EQ(OpenUploads(), 0u);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_FALSE(stored[0].etag.empty());
}

// A part the server fails twice is sent again on the same upload; when the
// retries run out, the upload is aborted and no parts stay behind.
TEST_F(S3PutTest, AFailedPartIsSentAgainAndAFailedUploadIsAborted) {
  WriteBigFile(dir / "local/big.bin", 12);
  job.written_files = {dir / "local/big.bin"};
  s3.multipart_threshold_mib = 5;
  s3.part_size_mib = 5;
  struct {
    int retries;
    const char* failure;  // "" for none
  } cases[] = {{2, ""}, {1, "HTTP status 500, InternalError"}};
  for (const auto& c : cases) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    notes.clear();
    Start({"--fail-part", "2:2:500"});
    const std::string failure = Failure(c.retries);
    EXPECT_EQ(Count("POST /exports/big.bin?uploads= 200 verified"), 1u) << failure;
    EXPECT_EQ(Count("partNumber=1&"), 1u);
    EXPECT_EQ(Count("partNumber=2&"), size_t(c.retries + 1));
    EXPECT_EQ(Count(" 500 injected "), std::min(2u, unsigned(c.retries + 1)));
    EXPECT_EQ(notes.size(), size_t(c.retries));
    EXPECT_EQ(OpenUploads(), 0u);
    if (*c.failure) {
      EXPECT_EQ(failure.rfind(Target() + c.failure, 0), 0u) << failure;
      EXPECT_EQ(Count("DELETE /exports/big.bin?uploadId="), 1u);
      EXPECT_EQ(Count(" 204 verified "), 1u);
      EXPECT_EQ(Count("POST /exports/big.bin?uploadId="), 0u);
      EXPECT_FALSE(std::filesystem::exists(Object("big.bin")));
      EXPECT_TRUE(stored.empty());
    } else {
      EXPECT_EQ(failure, "no failure");
      EXPECT_EQ(Count("partNumber=3&"), 1u);
      EXPECT_EQ(Count("DELETE"), 0u);
      EXPECT_TRUE(SameBytes(Object("big.bin"), dir / "local/big.bin"));
    }
    server.reset();
  }
}

TEST_F(S3PutTest, RefusedCredentialsAreNotTriedAgainAndNameTheKey) {
  struct {
    const char* name;
    std::function<void()> change;
    const char* says;
  } cases[] = {
      {"wrong secret", [&] { s3.secret = "not-the-secret"; },
       "the server did not accept the request's signature: the secret key is not the one of "
       "access key \"AKIDTEST\", or the bucket is not in region \"eu-west-3\" (HTTP status 403, "
       "SignatureDoesNotMatch"},
      {"unknown key", [&] { s3.access_key = "AKIDOTHER"; },
       "the server does not know access key \"AKIDOTHER\" (HTTP status 403, InvalidAccessKeyId"},
      {"untrusted certificate", [&] { limits.ca_file = dir / "local/a.csv"; }, ""},
  };
  Start();
  const S3Settings as_set = s3;
  const TransferLimits limits_as_set = limits;
  for (const auto& c : cases) {
    s3 = as_set;
    limits = limits_as_set;
    notes.clear();
    c.change();
    const std::string failure = Failure(3);
    EXPECT_EQ(failure.rfind(Target() + c.says, 0), 0u) << c.name << ": " << failure;
    EXPECT_TRUE(notes.empty()) << c.name << ": never retried";
    EXPECT_EQ(failure.find(s3.secret), std::string::npos) << failure;
    EXPECT_FALSE(std::filesystem::exists(Object("a.csv"))) << c.name;
  }
  EXPECT_EQ(Count(" 200 "), 0u);
  EXPECT_EQ(OpenUploads(), 0u);
}

TEST_F(S3PutTest, TemporaryCredentialsFromTheEnvironmentSignWithTheirToken) {
  Start({"--session-token", "FQoGZXIvYXdzEXAMPLETOKEN"});
  s3.access_key.clear();
  s3.secret.clear();
  setenv("AWS_ACCESS_KEY_ID", "AKIDTEST", 1);
  setenv("AWS_SECRET_ACCESS_KEY", kSecret, 1);
  setenv("AWS_SESSION_TOKEN", "FQoGZXIvYXdzEXAMPLETOKEN", 1);
  const std::string failure = Failure();
  unsetenv("AWS_ACCESS_KEY_ID");
  unsetenv("AWS_SECRET_ACCESS_KEY");
  unsetenv("AWS_SESSION_TOKEN");
  EXPECT_EQ(failure, "no failure");
  EXPECT_EQ(Count(" 200 verified "), 2u);
}

// A stop of the run between two parts: the upload is aborted, with a
// connection of its own, and nothing stays in the bucket.
// A stop while a part goes up: the part's transfer ends at once, no part
// follows, the upload is aborted, and no try comes after.
TEST_F(S3PutTest, AStopDuringAPartAbortsTheUpload) {
  WriteBigFile(dir / "local/big.bin", 12);
  job.written_files = {dir / "local/big.bin"};
  s3.multipart_threshold_mib = 5;
  s3.part_size_mib = 5;
  Start({"--slow-parts", "3"});
  StopFlag stop;
  std::thread stopper([&] {
    for (int i = 0; i < 3000 && Count("partNumber=1&") == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.Raise(StopReason::kRunStopped);
  });
  const auto begun = std::chrono::steady_clock::now();
  const std::string failure = Failure(3, &stop);
  stopper.join();
  EXPECT_NE(failure.find("stopped"), std::string::npos) << failure;
  EXPECT_EQ(Count("partNumber=1&"), 1u);
  EXPECT_EQ(Count("partNumber=3&"), 0u);
  EXPECT_EQ(Count("DELETE /exports/big.bin?uploadId="), 1u);
  EXPECT_EQ(Count("POST /exports/big.bin?uploadId="), 0u);
  EXPECT_EQ(OpenUploads(), 0u);
  EXPECT_FALSE(std::filesystem::exists(Object("big.bin")));
  EXPECT_TRUE(notes.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(15));
}

}  // namespace
}  // namespace ostrevane::delivery
