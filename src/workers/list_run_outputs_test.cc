// Header lines, JSON Lines and compressed files from list runs: the real
// executable on a real SQLite file, the files read back by the tools a
// data team uses (gzip, zstd, Python).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/sha256.h"
#include "common/text.h"
#include "common/json_reader.h"
#include "testing/run_program.h"
#include "testing/small_tmpfs.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

class OutputsRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Groups A, B, A: the XML and JSON files named by the group come back.
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, grp VARCHAR(1), name VARCHAR(20), price DECIMAL(10,2));
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
      INSERT INTO items SELECT i, CASE WHEN i BETWEEN 1001 AND 2000 THEN 'B' ELSE 'A' END,
                               'item ' || i, i / 7.0 FROM n;)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, grp, name, price FROM items ORDER BY id");
  }

  testing::ProgramResult RunList(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  // RESULT.json's jobs, in list order.
  std::vector<JsonValue> Jobs() { return testing::RunReportJobs(dir / "log"); }

  // Runs a shell command in the test's folder; its output when it fails.
  std::string Shell(const std::string& command) {
    const auto r = testing::RunCommand({"/bin/sh", "-c", command}, dir.path(), dir.path());
    return r.exit_code == 0 ? "" : command + ": " + r.out;
  }

  TempDir dir;
};

// The same files compressed with each method: named with the method's
// suffix, accepted by its test tool, and the same bytes as the plain files
// once decompressed (Python reads the gzip files); RESULT.json gives the
// size and checksum of the compressed files.
TEST_F(OutputsRunTest, CompressedFilesAreThePlainFilesCompressed) {
  for (const char* tool : {"/usr/bin/gzip", "/usr/bin/zstd", "/usr/bin/python3"})
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " missing (scripts/setup installs it)";
  const std::string outputs = " -tocsv:OUT/items.csv -csvheader -toxml:OUT/:grp.xml "
                              "-tojson:OUT/:grp.jsonl";
  auto r = RunList("-udl:t.udl -sql:items.sql -csvcp:0" + ReplaceAll(outputs, "OUT", "plain") + "\n" +
                   ReplaceAll(outputs, "OUT", "gz") + " -compress:gzip\n" +
                   ReplaceAll(outputs, "OUT", "zst") + " -compress:zstd:7\n");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::vector<std::string> plain = {"items.csv", "A.xml", "B.xml", "A.jsonl", "B.jsonl"};
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  const struct {
    const char* folder;
    const char* suffix;
    const char* test;
    const char* decode;
  } methods[] = {{"gz", ".gz", "gzip -t", "/usr/bin/python3 -c \"import gzip, sys; "
                                           "sys.stdout.buffer.write(gzip.open(sys.argv[1]).read())\""},
                 {"zst", ".zst", "zstd -q -t", "zstd -q -dc"}};
  for (size_t m = 0; m < std::size(methods); ++m) {
    const auto& method = methods[m];
    std::set<std::string> listed;
    for (const JsonValue& file : jobs[m + 1].Find("files")->items) {
      const std::string path = file.Find("path")->text;
      const std::string bytes = ReadFile(dir / path);
      listed.insert(path);
      EXPECT_EQ(file.Find("bytes")->text, std::to_string(bytes.size())) << path;
      EXPECT_EQ(file.Find("sha256")->text, Sha256Hex(bytes)) << path;
    }
    std::set<std::string> expected;
    for (const std::string& name : plain) {
      const std::string path = std::string(method.folder) + "/" + name + method.suffix;
      expected.insert(path);
      EXPECT_EQ(Shell(std::string(method.test) + " " + path), "");
      EXPECT_EQ(Shell(std::string(method.decode) + " " + path + " > decoded"), "");
      std::string want = ReadFile(dir / ("plain/" + name)), got = ReadFile(dir / "decoded");
      if (name.ends_with(".xml"))  // the files' TIMESTAMP lines differ
        for (std::string* xml : {&want, &got})
          xml->erase(xml->find("<TIMESTAMP>"), xml->find("</TIMESTAMP>") - xml->find("<TIMESTAMP>"));
      EXPECT_TRUE(got == want) << path;
    }
    EXPECT_EQ(listed, expected);
  }
  EXPECT_EQ(ReadFile(dir / "plain/items.csv").substr(0, 20), "id;grp;name;price\r\n1");
}

// A disk that fills while a file is compressed: the job fails naming the
// file, and neither it nor a temporary file stays; an older file of that
// name is kept.
TEST_F(OutputsRunTest, AFullDiskWhileCompressingLeavesNoFile) {
  testing::SmallTmpfs full(dir / "full", "64k");
  if (!full.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  WriteFile(dir / "full/out.csv.gz", "an older file");
  // About 400 kB of hexadecimal noise: some 200 kB compressed.
  WriteFile(dir / "noise.sql",
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
            "SELECT i, hex(randomblob(500)) FROM n");
  auto r = RunList("-udl:t.udl -sql:noise.sql -tocsv:full/out.csv -compress:gzip:1\n");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].Find("error")->text,
            "Stream write error on file \"" + dir / "full/out.csv.gz" +
                "\". No space left on device");
  std::set<std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir / "full"))
    entries.insert(entry.path().filename().string());
  EXPECT_EQ(entries, std::set<std::string>{"out.csv.gz"});
  EXPECT_EQ(ReadFile(dir / "full/out.csv.gz"), "an older file");
}

}  // namespace
}  // namespace ostrevane
