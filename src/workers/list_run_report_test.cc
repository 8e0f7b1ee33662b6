// HTML report mails of a list run over a large result: the real executable,
// a SQLite file and the local SMTP server, with the memory the process took.
#include <gtest/gtest.h>

#include <filesystem>

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

TEST(ListRunReportTest, AReportOverManyRecordsStaysWithinItsMemoryAndItsRecordLimit) {
  if (testing::kSanitizedBuild) GTEST_SKIP() << "a sanitizer's own memory would be measured too";
  TempDir dir;
  constexpr int kRows = 200'000;
  testing::CreateSqliteDatabase(dir / "big.db", R"(
      CREATE TABLE t (id INTEGER, name TEXT, amount REAL, day TEXT, kind INTEGER);
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000)
      INSERT INTO t SELECT i, 'customer ' || i, i * 1.25, '2024-03-' || (10 + i % 20), i % 7
      FROM n;)");
  testing::WriteUdlFile(dir / "big.udl", testing::SqliteConnectionString("big.db"));
  WriteFile(dir / "big.sql", "SELECT * FROM t ORDER BY id");
  // Walks every record and prints nothing for them: what it costs is the
  // result the report holds, not its output.
  WriteFile(dir / "quiet.mustache", "{{#frDataSet}}{{/frDataSet}}records walked\n");
  std::filesystem::create_directories(dir / "smtp");
  ServerProcess smtp("smtp_server.py", {"--out", dir / "smtp"});
  auto settings = [&](const std::string& more) {
    WriteFile(dir / "settings.ini",
              "[Ostrevane]\nthread_count=1\n[Mail]\nSMTPServer=127.0.0.1\nSMTPPort=" +
                  std::to_string(smtp.port()) + "\nSender=batch@example.org\n" + more);
  };
  WriteFile(dir / "jobs.txt",
            "-udl:big.udl -sql:big.sql -tocsv:out/big.csv -mail:ops@example.org "
            "-frtemplate:quiet.mustache\n");

  settings("");
  const testing::ProgramResult sent =
      testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(sent.exit_code, 0) << sent.out;
  EXPECT_NE(ReadFile(dir / "smtp/msg-1/body").find("records walked"), std::string::npos);
  // At most three times the result's CSV file plus the limit of the
  // rendered report (64 MiB); a data object per value took 1.6 GB here.
  const auto csv_bytes = long(std::filesystem::file_size(dir / "out/big.csv"));
  EXPECT_GT(csv_bytes, kRows * 30L);
  EXPECT_LT(sent.peak_rss_kb * 1024, 3 * csv_bytes + (64L << 20))
      << sent.peak_rss_kb << " KiB for a CSV file of " << csv_bytes << " bytes";

  // One record more than ReportMaxRecords: the job fails naming the
  // setting, and nothing is sent.
  settings("ReportMaxRecords=" + std::to_string(kRows - 1) + "\n");
  const testing::ProgramResult refused =
      testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  EXPECT_EQ(refused.exit_code, 1) << refused.out;
  EXPECT_NE(refused.out.find("[ERROR]   job 1, line 1: Report template \"quiet.mustache\": the "
                             "result has more than 199999 records, more than a report may hold "
                             "(ReportMaxRecords in section Mail of settings.ini)"),
            std::string::npos)
      << refused.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "smtp/msg-2"));
}

}  // namespace
}  // namespace ostrevane
