// The metrics file: the text format's rules (checked by a reader written
// from them, and by promtool where scripts/setup installed it), the last
// good run carried over from the file before, and end to end the file a
// run and a part of a run leave.
#include "app/run_metrics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Checks `text` against the rules of the text exposition format as a
// scraper reads it; returns the first fault, "" when there is none. Fills
// `samples` with "name{labels}" -> value, the labels as written.
std::string FormatFault(const std::string& text, std::map<std::string, std::string>* samples) {
  static const std::regex kName("[a-zA-Z_:][a-zA-Z0-9_:]*");
  static const std::regex kLabelName("[a-zA-Z_][a-zA-Z0-9_]*");
  if (!text.ends_with("\n")) return "no line feed at the end";
  std::set<std::string> families;  // seen, by name
  std::string current;             // the family whose lines come now
  bool typed = false;
  for (const std::string& line : SplitLines(text)) {
    if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
      const std::string rest = line.substr(7);
      const std::string name = rest.substr(0, rest.find(' '));
      if (!std::regex_match(name, kName)) return "bad name in: " + line;
      if (line.starts_with("# HELP ")) {
        if (!families.insert(name).second) return "family twice: " + name;
        current = name;
        typed = false;
      } else {
        if (name != current || typed) return "TYPE out of place: " + line;
        if (rest.substr(name.size()) != " gauge") return "not a gauge: " + line;
        typed = true;
      }
      continue;
    }
    if (line.starts_with("#")) return "other comment: " + line;
    const size_t brace = line.find('{');
    const std::string name = line.substr(0, brace);
    if (name != current || !typed) return "sample outside its family: " + line;
    // Labels: name="value" pairs, the value with \\ \" \n escapes only.
    size_t i = brace + 1;
    std::set<std::string> label_names;
    while (line[i] != '}') {
      const size_t eq = line.find('=', i);
      const std::string label = line.substr(i, eq - i);
      if (!std::regex_match(label, kLabelName) || !label_names.insert(label).second)
        return "bad label name in: " + line;
      if (line[eq + 1] != '"') return "unquoted label value in: " + line;
      for (i = eq + 2; line[i] != '"'; ++i) {
        if (i >= line.size()) return "unclosed label value in: " + line;
        if (line[i] == '\\' && std::string_view("\\\"n").find(line[i + 1]) == std::string::npos)
          return "bad escape in: " + line;
        if (line[i] == '\\') ++i;
      }
      ++i;
      if (line[i] == ',')
        ++i;
      else if (line[i] != '}')
        return "bad label list in: " + line;
    }
    const std::string value = line.substr(i + 2);
    if (line[i + 1] != ' ' || !std::regex_match(value, std::regex("[0-9]+(\\.[0-9]+)?")))
      return "bad value in: " + line;
    if (!IsValidUtf8(line)) return "invalid UTF-8 in: " + line;
    if (samples) (*samples)[line.substr(0, i + 1)] = value;
  }
  return "";
}

RunReport TwoJobs() {
  RunReport report;
  report.list_file = "/srv/jobs \"nightly\"\\\n\xFF.txt";
  report.start_unix = 1700000000;
  report.jobs.resize(2);
  report.jobs[0].run_number = 1, report.jobs[0].list_line_number = 1;
  report.jobs[1].run_number = 3, report.jobs[1].list_line_number = 5;
  report.outcomes.resize(2);
  report.outcomes[0].status = JobOutcome::Status::kDone;
  report.outcomes[0].duration_ms = 1234;
  report.outcomes[0].rows_read = 10;
  report.outcomes[0].files = {{"a", 100, ""}, {"b", 23, ""}};
  report.outcomes[1].status = JobOutcome::Status::kFailed;
  report.outcomes[1].duration_ms = 5;
  return report;
}

TEST(RunMetricsTest, TextFollowsTheFormatAndCarriesTheLastGoodRun) {
  const std::string list = "list_file=\"/srv/jobs \\\"nightly\\\"\\\\\\n\xEF\xBF\xBD.txt\"";
  const std::string run = list + ",part=\"3/8\"";
  RunReport report = TwoJobs();
  // Still running: no end, no exit status; the last good run from before.
  const std::string before =
      "ostrevane_run_last_success_timestamp_seconds{" + run + "} 1699990000\n" +
      "ostrevane_run_last_success_timestamp_seconds{list_file=\"other\"} 5\n";
  std::map<std::string, std::string> samples;
  std::string text = RunMetricsText(report, "3/8", before);
  ASSERT_EQ(FormatFault(text, &samples), "") << text;
  EXPECT_EQ(samples["ostrevane_run_start_timestamp_seconds{" + run + "}"], "1700000000");
  EXPECT_EQ(samples.count("ostrevane_run_end_timestamp_seconds{" + run + "}"), 0u);
  EXPECT_EQ(samples["ostrevane_run_last_success_timestamp_seconds{" + run + "}"], "1699990000");
  const std::string job3 = run + ",job=\"3\",line=\"5\"";
  EXPECT_EQ(samples["ostrevane_job_status{" + job3 + ",status=\"failed\"}"], "1");
  EXPECT_EQ(samples["ostrevane_job_status{" + job3 + ",status=\"done\"}"], "0");
  const std::string job1 = run + ",job=\"1\",line=\"1\"";
  EXPECT_EQ(samples["ostrevane_job_duration_seconds{" + job1 + "}"], "1.234");
  EXPECT_EQ(samples["ostrevane_job_rows_read{" + job1 + "}"], "10");
  EXPECT_EQ(samples["ostrevane_job_written_bytes{" + job1 + "}"], "123");
  EXPECT_EQ(samples["ostrevane_run_jobs{" + run + ",status=\"not_run\"}"], "0");

  // Ended with an error: the last good run stays the one before.
  report.exit_status = 1;
  report.end_unix = 1700000100;
  samples.clear();
  text = RunMetricsText(report, "3/8", text);
  ASSERT_EQ(FormatFault(text, &samples), "") << text;
  EXPECT_EQ(samples["ostrevane_run_exit_status{" + run + "}"], "1");
  EXPECT_EQ(samples["ostrevane_run_end_timestamp_seconds{" + run + "}"], "1700000100");
  EXPECT_EQ(samples["ostrevane_run_last_success_timestamp_seconds{" + run + "}"], "1699990000");
  // Another list's (or part's) value is not this one's; a good end is.
  EXPECT_EQ(RunMetricsText(report, "", text).find("last_success"), std::string::npos);
  report.exit_status = 0;
  samples.clear();
  ASSERT_EQ(FormatFault(RunMetricsText(report, "", ""), &samples), "");
  EXPECT_EQ(samples["ostrevane_run_last_success_timestamp_seconds{" + list + "}"], "1700000100");

  if (!std::filesystem::exists("/usr/bin/promtool"))
    GTEST_SKIP() << "promtool is missing (scripts/setup installs Debian's prometheus package)";
  TempDir dir;
  WriteFile(dir / "m.prom", text);
  const auto r = testing::RunCommand({"/bin/sh", "-c", "promtool check metrics < m.prom"},
                                     dir.path(), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.out << text;
}

TEST(RunMetricsTest, PartsKeepAFileEach) {
  struct {
    const char* configured;
    const char* suffix;
    const char* path;
  } cases[] = {
      {"/var/lib/node/ostrevane.prom", "", "/var/lib/node/ostrevane.prom"},
      {"/var/lib/node/ostrevane.prom", ".3of8", "/var/lib/node/ostrevane.3of8.prom"},
      {"metrics", ".1of2", "metrics.1of2"},
      {"a.d/metrics", ".1of2", "a.d/metrics.1of2"},
      {"/x/.prom", ".1of2", "/x/.prom.1of2"},
  };
  for (const auto& row : cases)
    EXPECT_EQ(MetricsFilePath(row.configured, row.suffix), row.path) << row.configured;
}

// Each run replaces the file whole (no temporary file is left beside it);
// a failed run keeps the time of the last good one.
TEST(RunMetricsTest, EachRunReplacesItsFile) {
  TempDir dir;
  testing::CreateSqliteDatabase(dir / "t.db",
                                "CREATE TABLE t (id INTEGER); INSERT INTO t VALUES (1);");
  testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
  WriteFile(dir / "t.sql", "SELECT id FROM t");
  WriteFile(dir / "settings.ini", "[Ostrevane]\nmetrics_file=prom/o.prom\n");
  std::filesystem::create_directories(dir / "prom");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:t.sql -tocsv:out/t.csv\n-tocsv:out/u.csv\n");
  auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::map<std::string, std::string> good;
  const std::string first = ReadFile(dir / "prom/o.prom");
  ASSERT_EQ(FormatFault(first, &good), "") << first;
  const std::string labels = "{list_file=\"jobs.txt\"}";
  EXPECT_EQ(good["ostrevane_run_exit_status" + labels], "0");
  EXPECT_EQ(good["ostrevane_run_last_success_timestamp_seconds" + labels],
            good["ostrevane_run_end_timestamp_seconds" + labels]);
  EXPECT_EQ(good["ostrevane_run_jobs{list_file=\"jobs.txt\",status=\"done\"}"], "2");

  WriteFile(dir / "t.sql", "SELECT id FROM missing");
  r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 1) << r.out;
  std::map<std::string, std::string> bad;
  const std::string second = ReadFile(dir / "prom/o.prom");
  ASSERT_EQ(FormatFault(second, &bad), "") << second;
  EXPECT_EQ(bad["ostrevane_run_exit_status" + labels], "1");
  EXPECT_EQ(bad["ostrevane_run_last_success_timestamp_seconds" + labels],
            good["ostrevane_run_end_timestamp_seconds" + labels]);
  EXPECT_EQ(
      bad["ostrevane_job_status{list_file=\"jobs.txt\",job=\"2\",line=\"2\",status=\"failed\"}"],
      "1");

  r = testing::RunProgram({"-list:jobs.txt", "-part:2/2"}, dir.path(), dir.path());
  std::map<std::string, std::string> part;
  ASSERT_EQ(FormatFault(ReadFile(dir / "prom/o.2of2.prom"), &part), "");
  EXPECT_EQ(part.count("ostrevane_job_rows_read{list_file=\"jobs.txt\",part=\"2/2\",job=\"2\","
                       "line=\"2\"}"),
            1u);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "prom"))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"o.prom", "o.2of2.prom"}));

  // A metrics file that cannot be written, or that holds something else
  // (metrics_file naming the wrong file), is a mistake the run names once,
  // and the other file is left as it was.
  WriteFile(dir / "notes.txt", "my notes\n");
  struct {
    const char* file;
    const char* why;
  } cases[] = {
      {"nowhere/o.prom", "No such file or directory"},
      {"notes.txt", "it holds something else than metrics, and is not replaced"},
  };
  for (const auto& row : cases) {
    WriteFile(dir / "settings.ini", std::string("[Ostrevane]\nmetrics_file=") + row.file + "\n");
    r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
    EXPECT_EQ(r.exit_code, 2) << r.out;
    const std::string error =
        "EFCreateError: Cannot write the metrics file \"" + dir / row.file +
        "\" (metrics_file in section [Ostrevane] of settings.ini): " + row.why;
    const size_t at = r.out.find(error);
    EXPECT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(error, at + 1), std::string::npos) << r.out;
  }
  EXPECT_EQ(ReadFile(dir / "notes.txt"), "my notes\n");
}

}  // namespace
}  // namespace ostrevane
