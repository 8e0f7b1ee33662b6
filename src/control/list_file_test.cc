// The list reader and the expansion of its jobs, on real files.
#include "control/list_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>

#include "common/error.h"
#include "common/text.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;
using testing::WriteFile;

class FixedClock : public Clock {
 public:
  DateTime Now() const override { return 45000.25; }
};

// One field of a record as text, by name ("fields" as "name=value|...").
std::string FieldText(const Job& r, std::string_view field) {
  auto list = [](const std::vector<NameValue>& l) {
    std::string out;
    for (const NameValue& p : l) out += (out.empty() ? "" : "|") + p.name + "=" + p.value;
    return out;
  };
  const struct {
    std::string_view name;
    const std::string Job::*text;
  } texts[] = {
      {"list_line", &Job::list_line},
      {"data_link_text", &Job::data_link_text},
      {"connection_string", &Job::connection_string},
      {"sql", &Job::sql},
      {"sql_file", &Job::sql_file},
      {"post_sql_file", &Job::post_sql_file},
      {"per_record_sql_file", &Job::per_record_sql_file},
      {"post_sql", &Job::post_sql},
      {"per_record_sql", &Job::per_record_sql},
      {"data_source", &Job::data_source},
      {"data_source_name", &Job::data_source_name},
      {"csv_path", &Job::csv_path},
      {"xml_path", &Job::xml_path},
      {"json_path", &Job::json_path},
      {"xml_template", &Job::xml_template},
      {"mail_to", &Job::mail_to},
      {"date_pattern", &Job::date_pattern},
      {"time_pattern", &Job::time_pattern},
      {"http_url", &Job::http_url},
      {"http_login", &Job::http_login},
      {"http_password", &Job::http_password},
      {"report_template", &Job::report_template},
      {"ftp_server", &Job::ftp_server},
      {"ftp_login", &Job::ftp_login},
      {"ftp_password", &Job::ftp_password},
      {"ftp_folder", &Job::ftp_folder},
      {"sftp_server", &Job::sftp_server},
      {"sftp_login", &Job::sftp_login},
      {"sftp_password", &Job::sftp_password},
      {"sftp_folder", &Job::sftp_folder},
      {"s3_prefix", &Job::s3_prefix},
      {"csv_separator", &Job::csv_separator},
      {"csv_quote", &Job::csv_quote},
      {"mail_subject", &Job::mail_subject},
      {"mail_body", &Job::mail_body},
  };
  for (const auto& t : texts)
    if (t.name == field) return r.*t.text;
  if (field == "wants_sftp") return r.wants_sftp ? "yes" : "no";
  if (field == "wants_s3") return r.wants_s3 ? "yes" : "no";
  if (field == "csv_header")
    return r.csv_header == Switch::kOn ? "on" : r.csv_header == Switch::kOff ? "off" : "?";
  if (field == "compression") {
    const CompressionMethod m = r.compression.method;
    return m == CompressionMethod::kNone   ? "none"
           : m == CompressionMethod::kGzip ? "gzip:" + std::to_string(r.compression.level)
           : m == CompressionMethod::kZstd ? "zstd:" + std::to_string(r.compression.level)
                                           : "?";
  }
  if (field == "csv_code_page") return std::to_string(r.csv_code_page);
  if (field == "job_timeout") return std::to_string(r.job_timeout);
  if (field == "list_line_number") return std::to_string(r.list_line_number);
  if (field == "csv_fields") return list(r.csv_fields);
  if (field == "sql_parameters") return list(r.sql_parameters);
  throw std::invalid_argument("no field " + std::string(field));
}

// A folder of data-link and SQL files; "@/" in a list text names it.
class ListFileTest : public ::testing::Test {
 protected:
  ListFileTest() {
    WriteFile(dir_ / "a.udl", "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                              "Provider=SQLite;Data Source=x.db\r\n");
    WriteFile(dir_ / "b.udl", "Provider=P;User ID=u");
    WriteFile(dir_ / "c.udl", "Provider=P;data source=lo");
    WriteFile(dir_ / "q.sql", "select q");
    WriteFile(dir_ / "r.sql", "select r");
    WriteFile(dir_ / "dir with space/s.sql", "select s");
    WriteFile(dir_ / "t1.tpl", "{{#records}}{{/records}}");
    WriteFile(dir_ / "t2.tpl", "{{#fields}}{{/fields}}");
    WriteFile(dir_ / "body1.txt", "first body");
    WriteFile(dir_ / "body2.txt", "second body");
    settings_.http = {"http://h/up", "hl", "hp", 0, false};
    settings_.ftp = {"ftp.example", "fl", "fp", 21, false};
    settings_.sftp.server = "ssh.example";
    settings_.sftp.login = "sl";
    settings_.sftp.password = "sp";
    names_ = {{"Sales", "SRV01"}, {"Local", "X.DB"}};
    ctx_.settings = &settings_;
    ctx_.names = &names_;
  }
  std::string WriteList(const std::string& text) {
    WriteFile(dir_ / "list.txt", ReplaceAll(text, "@/", dir_.path() + "/"));
    return dir_ / "list.txt";
  }
  std::vector<Job> Expand(const std::string& text) {
    const std::string list = WriteList(text);
    std::vector<Job> jobs = ReadListLines(list, ctx_);
    ExpandList(jobs, ctx_, clock_, list);
    return jobs;
  }

  TempDir dir_;
  Settings settings_;
  NamesTable names_;
  OptionContext ctx_;
  FixedClock clock_;
};

TEST_F(ListFileTest, ReadsOneJobPerLineButBlankLinesAndComments) {
  const std::string list = " \t \r\n"
                           "-udl:@/b.udl  -sql:\"@/dir with space/s.sql\"\t\r\n"
                           "\r\n"
                           "-sql:@/q.sql -tocsv:\"C:\\out dir\\?DATE.csv\"\r"
                           "  # note\n"
                           "; another note -tocsv:x.csv\n"
                           "-clear\n"
                           "\t";
  const std::vector<Job> jobs = ReadListLines(WriteList(list), ctx_);
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].list_line_number, 2);
  EXPECT_EQ(jobs[0].list_line,
            "-udl:" + dir_.path() + "/b.udl  -sql:\"" + dir_.path() + "/dir with space/s.sql\"");
  EXPECT_EQ(jobs[0].sql, "select s");
  EXPECT_EQ(jobs[1].list_line_number, 4);
  EXPECT_EQ(jobs[1].csv_path, "C:\\out dir\\?DATE.csv");
  EXPECT_EQ(jobs[2].list_line_number, 7);  // the comments still count as lines
  EXPECT_EQ(jobs[2].list_line, "-clear");
  EXPECT_EQ(jobs[2].csv_code_page, 255);  // reset by ResetOptions, completed by expansion
  // A tab inside a token stays in it, where a value may hold one.
  EXPECT_EQ(ReadListLines(WriteList("-csvformat:\t' -tocsv:a"), ctx_)[0].csv_separator, "\t");
  EXPECT_EQ(ReadListLines(WriteList("-params:s=\t -tocsv:a"), ctx_)[0].sql_parameters[0].value, "\t");
  // Quotes keep spaces; two quotes outside a quoted part are one quote, so
  // a display name with a comma is written so:
  EXPECT_EQ(ReadListLines(WriteList("-mail:\"\"\"Lee, Ann\"\"\"\" <ann@example.com>, bob@example.com "
                                    "(night shift)\""),
                          ctx_)[0]
                .mail_to,
            "\"Lee, Ann\" <ann@example.com>, bob@example.com (night shift)");
}

TEST_F(ListFileTest, EncodingsOfTheListFile) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("-tocsv:\xE9.csv\r\n")) utf16 += c, utf16 += '\0';
  WriteFile(dir_ / "u16.txt", utf16);
  EXPECT_EQ(ReadListLines(dir_ / "u16.txt", ctx_)[0].csv_path, "\xC3\xA9.csv");
  WriteFile(dir_ / "u8.txt", "\xEF\xBB\xBF-tocsv:\xC3\xA9.csv");
  EXPECT_EQ(ReadListLines(dir_ / "u8.txt", ctx_)[0].csv_path, "\xC3\xA9.csv");
}

TEST_F(ListFileTest, EmptyListsGiveNoJobs) {
  for (const std::string text : {"", "\r\n\r\n", " \t\n\t \r  ", "\xEF\xBB\xBF"}) {
    std::vector<Job> jobs = ReadListLines(WriteList(text), ctx_);
    ExpandList(jobs, ctx_, clock_);
    EXPECT_TRUE(jobs.empty()) << ::testing::PrintToString(text);
  }
}

TEST_F(ListFileTest, RunEndingErrors) {
  std::filesystem::create_directory(dir_ / "folder");
  ::unsetenv("OSTREVANE_TEST_UNSET");
  WriteFile(dir_ / "env.udl", "Provider=P;Password=${file:" + dir_ / "none" + "}");
  struct {
    std::string name, list, class_name, message;
  } cases[] = {
      {"", "", "Exception", "list file can not be empty"},
      {" \t", "", "Exception", "list file can not be empty"},
      {dir_ / "nothing.txt", "", kEFOpenError,
       "Cannot open file \"" + dir_ / "nothing.txt" + "\". No such file or directory"},
      {dir_ / "folder", "", kEFOpenError,
       "Cannot open file \"" + dir_ / "folder" + "\". Is a directory"},
      // Errors of a line name the list and the line.
      {"list", "-udl:@/b.udl\n-sql:\"@/q.sql", "Exception",
       "@/list.txt, line 2: Can't find 2nd insulator '\"':\r\n" + dir_ / "q.sql"},
      {"list", "-udl:@/b.udl\n# -udl:\n-sql:@/none.sql", "Exception",
       "@/list.txt, line 3: File " + dir_ / "none.sql" + " does not exist"},
      {"list", "-udl:", "Exception", "@/list.txt, line 1: no file name given"},
      {"list", "-csvcp:abc", kEConvertError,
       "@/list.txt, line 1: 'abc' is not a valid integer value"},
      {"list", "-udl:@/b.udl\n-tocvs:out/o.csv", "Exception",
       "@/list.txt, line 2: unknown option \"-tocvs:out/o.csv\""},
      {"list", "-udl:@/b.udl note", "Exception", "@/list.txt, line 1: unknown option \"note\""},
      // Raised by the expansion: the data-link file already names its data source.
      {"list", "-udl:@/a.udl -ds:SRV2", "Exception",
       "@/list.txt, line 1: Data Source already implemented"},
      {"list", "-udl:@/b.udl\n-udl:@/a.udl\n\n-ds:SRV2", "Exception",
       "@/list.txt, line 4: Data Source already implemented"},
      // A report template is read at once, like an SQL file; the rules of
      // -mail and -frtemplate that would drop one are mistakes.
      {"list", "-udl:@/b.udl -mail:ops -frtemplate:@/none.tpl", "Exception",
       "@/list.txt, line 1: File @/none.tpl does not exist"},
      {"list", "-udl:@/b.udl -frtemplate:@/t1.tpl -mail:ops", "Exception",
       "@/list.txt, line 1: -frtemplate is given before -mail, which clears it; write -mail "
       "first: -mail:RECIPIENTS -frtemplate:FILE"},
      {"list", "-udl:@/b.udl -mail:ops -frtemplate:@/t1.tpl\n# weekly\n-frtemplate:@/t2.tpl",
       "Exception",
       "@/list.txt, line 3: -frtemplate without -mail: this line takes -mail from line 1 "
       "together with its template, which replaces this one; give -mail on this line: "
       "-mail:RECIPIENTS -frtemplate:FILE"},
      {"list", "-udl:@/b.udl -mail:ops\n-clear -udl:@/b.udl -frtemplate:@/t1.tpl", "Exception",
       "@/list.txt, line 2: -frtemplate without -mail: nothing mails the report; give -mail on "
       "this line: -mail:RECIPIENTS -frtemplate:FILE"},
      // A literal TAB at the end of a line goes with the line's blanks.
      {"list", "-udl:@/b.udl -csvformat:\t", "Exception",
       "@/list.txt, line 1: option -csvformat: no separator given; for a TAB write "
       "-csvformat:\\t (a TAB at the end of a line is removed with the line's blanks)"},
      {"list", "-udl:@/b.udl -tocsv:t.csv\t-mail:ops@example.com", "Exception",
       "@/list.txt, line 1: option -tocsv: the value \"t.csv\\t-mail:ops@example.com\" holds a "
       "TAB; options are separated by spaces, and no file name, folder or recipient holds a TAB "
       "or another control character"},
      // A message never shows a secret of the line.
      {"list", "-udl:@/b.udl -ds:\"x;Password=Hunter 2", "Exception",
       "@/list.txt, line 1: Can't find 2nd insulator '\"':\r\nx;Password=***"},
      {"list", "-udl:@/b.udl -ds:x;Password=\"Hunter 2", "Exception",
       "@/list.txt, line 1: Can't find 2nd insulator '\"':\r\n***"},
      {"list", "-dss:x;Password=Hunter2", "Exception",
       "@/list.txt, line 1: unknown option \"-dss:x;Password=***\""},
      // Output options: levels, methods and switches that mean nothing, and
      // outputs that cannot be.
      {"list", "-udl:@/b.udl -tocsv:o.csv -compress:gzip:10", "Exception",
       "@/list.txt, line 1: option -compress: the level \"10\" is out of range for gzip: give a "
       "whole number from 1 to 9 (gzip alone is level 6)"},
      {"list", "-udl:@/b.udl -tocsv:o.csv\n-compress:zstd:x", "Exception",
       "@/list.txt, line 2: option -compress: the level \"x\" is out of range for zstd: give a "
       "whole number from 1 to 19 (zstd alone is level 3)"},
      {"list", "-udl:@/b.udl -tocsv:o.csv -compress:bz2:9", "Exception",
       "@/list.txt, line 1: option -compress: \"bz2\" is no compression method; write gzip or "
       "zstd, with a level if wanted (-compress:zstd:9), or none"},
      {"list", "-udl:@/b.udl -csvheader:yes", "Exception",
       "@/list.txt, line 1: option -csvheader: \"yes\" is neither on nor off"},
      {"list", "-udl:@/b.udl -sql:@/q.sql\n-sql:@/r.sql -compress:zstd", "Exception",
       "@/list.txt, line 2: -compress on a job that writes no file: without -tocsv, -toxml or "
       "-tojson the SQL runs as a script"},
      {"list", "-udl:@/b.udl -tocsv:out/o.txt\n-tojson:out//./o.txt", "Exception",
       "@/list.txt, line 2: -tojson names the same file as -tocsv: \"out//./o.txt\"; give the "
       "JSON Lines file a name of its own"},
      // -subject and -mailbody shape a mail: without one, or beside a
      // report, they are mistakes.
      {"list", "-udl:@/b.udl -subject:Nightly", "Exception",
       "@/list.txt, line 1: -subject without -mail: nothing mails this job; give -mail on this "
       "line or a line above"},
      {"list", "-udl:@/b.udl -mail:ops\n-clear -udl:@/b.udl -mailbody:@/body1.txt", "Exception",
       "@/list.txt, line 2: -mailbody without -mail: nothing mails this job; give -mail on this "
       "line or a line above"},
      {"list", "-udl:@/b.udl -mail:ops -frtemplate:@/t1.tpl -mailbody:@/body1.txt", "Exception",
       "@/list.txt, line 1: -mailbody and -frtemplate on one line: the report is the mail's "
       "body; give one of them"},
      {"list", "-udl:@/b.udl -mail:ops -mailbody:@/none.txt", "Exception",
       "@/list.txt, line 1: File @/none.txt does not exist"},
      // An environment reference that cannot be expanded names the option
      // (and the data-link file), never a value.
      {"list", "-udl:@/b.udl -tocsv:${OSTREVANE_TEST_UNSET}/a.csv", "Exception",
       "@/list.txt, line 1: option -tocsv: the environment variable OSTREVANE_TEST_UNSET is not "
       "set (${OSTREVANE_TEST_UNSET})"},
      {"list", "-udl:@/b.udl -params:p=${OSTREVANE_TEST_UNSET}", "Exception",
       "@/list.txt, line 1: option -params: the environment variable OSTREVANE_TEST_UNSET is "
       "not set (${OSTREVANE_TEST_UNSET})"},
      {"list", "-udl:@/env.udl", "Exception",
       "@/list.txt, line 1: option -udl: @/env.udl: ${file:@/none}: the file cannot be read: "
       "No such file or directory"},
  };
  for (const auto& c : cases) {
    const std::string name = c.name == "list" ? WriteList(c.list) : c.name;
    try {
      std::vector<Job> jobs = ReadListLines(name, ctx_);
      ExpandList(jobs, ctx_, clock_, name);
      ADD_FAILURE() << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), c.class_name) << c.message;
      EXPECT_EQ(e.message(), ReplaceAll(c.message, "@/", dir_.path() + "/"));
    }
  }
}

// -check wants every mistake of a list at once.
TEST_F(ListFileTest, ProblemsOfEveryLineAreCollectedOnRequest) {
  std::vector<std::string> problems;
  const std::string list = WriteList(
      "-udl:@/b.udl -tocvs:a\n-sql:@/q.sql\n-csvcp:x -fdf:Y\n-frtemplate:@/t1.tpl\n-ds:x\n");
  std::vector<Job> jobs = ReadListLines(list, ctx_, &problems);
  EXPECT_EQ(jobs.size(), 5u);
  ExpandList(jobs, ctx_, clock_, list, &problems);
  EXPECT_EQ(problems,
            (std::vector<std::string>{
                "Exception: " + list + ", line 1: unknown option \"-tocvs:a\"",
                "EConvertError: " + list + ", line 3: 'x' is not a valid integer value",
                "Exception: " + list +
                    ", line 4: -frtemplate without -mail: nothing mails the report; give -mail on "
                    "this line: -mail:RECIPIENTS -frtemplate:FILE"}));
}

TEST_F(ListFileTest, Expansion) {
  ::setenv("OSTREVANE_TEST_DIR", "/srv/out", 1);
  WriteFile(dir_ / "secret", "pw\n");
  WriteFile(dir_ / "env.udl", "Provider=P;Password=${file:" + dir_ / "secret" + "}");
  struct Check {
    size_t job;
    std::string field, expected;
  };
  const std::string b = "Provider=P;User ID=u";
  struct {
    std::string what, list;
    std::vector<Check> checks;
  } cases[] = {
      {"a line takes connection, SQL and outputs from the line above",
       "-udl:@/b.udl -sql:@/q.sql -tocsv:out.csv -postsql:@/r.sql\n-sql:@/r.sql",
       {{1, "data_link_text", b},
        {1, "connection_string", b},
        {1, "sql", "select r"},
        {1, "csv_path", "out.csv"},
        {1, "post_sql", "select r"},
        {1, "date_pattern", "YYYYMMDD"},
        {1, "csv_code_page", "1"}}},
      {"-clear takes nothing and gets the program defaults",
       "-udl:@/b.udl -sql:@/q.sql -tocsv:out.csv -fdf:DD -csvcp:5\n-clear -sql:@/r.sql",
       {{1, "connection_string", ""},
        {1, "data_link_text", ""},
        {1, "csv_path", ""},
        {1, "date_pattern", "YYYYMMDD"},
        {1, "time_pattern", "HHNNSSZZZ"},
        {1, "csv_separator", ";"},
        {1, "csv_quote", "\""},
        {1, "csv_code_page", "1"}}},
      {"a first line without -udl still gets the defaults",
       "-sql:@/q.sql",
       {{0, "connection_string", ""},
        {0, "data_source", ""},
        {0, "data_source_name", ""},
        {0, "date_pattern", "YYYYMMDD"}}},
      {"a second line without any connection stops early",
       "-sql:@/q.sql -tocsv:o.csv\n-sql:@/r.sql",
       {{1, "connection_string", ""},
        {1, "date_pattern", "YYYYMMDD"},
        {1, "csv_separator", ";"},
        {1, "csv_code_page", "1"},
        {1, "csv_path", ""}}},
      {"a job below lines without a connection gets the defaults",
       "-sql:@/q.sql\n-sql:@/q.sql\n-udl:@/b.udl -sql:@/q.sql -tocsv:o_?DATE_?TIME.csv",
       {{2, "date_pattern", "YYYYMMDD"},
        {2, "time_pattern", "HHNNSSZZZ"},
        {2, "csv_separator", ";"},
        {2, "csv_quote", "\""},
        {2, "csv_code_page", "1"}}},
      {"-ds adds the data source to the inherited string",
       "-udl:@/b.udl\n-ds:srv01",
       {{1, "data_link_text", b},
        {1, "connection_string", b + "; Data Source=srv01"},
        {1, "data_source_name", "Sales"}}},
      {"a line without -ds keeps the data source of the line above",
       "-udl:@/b.udl -ds:SRV01\n-sql:@/r.sql",
       {{0, "connection_string", b + "; Data Source=SRV01"},
        {1, "data_link_text", b},
        {1, "data_source", "SRV01"},
        {1, "data_source_name", "Sales"},
        {1, "connection_string", b + "; Data Source=SRV01"}}},
      {"the data source of the data-link file gives the display name",
       "-udl:@/a.udl\n-sql:@/r.sql",
       {{0, "data_source", "x.db"},
        {0, "data_source_name", "Local"},
        {0, "connection_string", "Provider=SQLite;Data Source=x.db"},
        {1, "data_source", "x.db"},
        {1, "data_source_name", "Local"},
        {1, "connection_string", "Provider=SQLite;Data Source=x.db"}}},
      {"only the exact key \"Data Source=\" counts",
       "-udl:@/c.udl -ds:SRV",
       {{0, "connection_string", "Provider=P;data source=lo; Data Source=SRV"}}},
      {"-csvcp:255 is not given",
       "-udl:@/b.udl -csvcp:7 -csvformat:,'\n-csvcp:255",
       {{1, "csv_code_page", "7"}, {1, "csv_separator", ","}, {1, "csv_quote", "'"}}},
      {"the template follows the recipients",
       "-udl:@/b.udl -mail:ops -frtemplate:@/t1.tpl\n-sql:@/q.sql\n-mail:dev\n"
       "-mail:ann -frtemplate:@/t2.tpl",
       {{1, "mail_to", "ops"},
        {1, "report_template", "@/t1.tpl"},
        {2, "mail_to", "dev"},
        {2, "report_template", ""},
        {3, "report_template", "@/t2.tpl"}}},
      {"an SQL text passes down with the name of its file",
       "-udl:@/b.udl -sql:@/q.sql -postsql:@/r.sql\n-tocsv:o.csv\n-clear -udl:@/b.udl",
       {{0, "sql_file", "@/q.sql"},
        {1, "sql_file", "@/q.sql"},
        {1, "post_sql_file", "@/r.sql"},
        {1, "per_record_sql_file", ""},
        {2, "sql_file", ""}}},
      {"the FTP server passes down, the remote folder does not",
       "-udl:@/b.udl -ftpdir:out\n-ftpdir:in\n-sql:@/r.sql",
       {{1, "ftp_server", "ftp.example"},
        {1, "ftp_folder", "in"},
        {2, "ftp_server", "ftp.example"},
        {2, "ftp_login", "fl"},
        {2, "ftp_password", "fp"},
        {2, "ftp_folder", ""}}},
      {"the SFTP target passes down with its folder, until a line names its own or -clear",
       "-udl:@/b.udl -sftp:/in\n-sql:@/r.sql\n-sftp\n-sql:@/q.sql\n-clear -udl:@/b.udl",
       {{0, "sftp_server", "ssh.example"},
        {0, "sftp_folder", "/in"},
        {1, "sftp_server", "ssh.example"},
        {1, "sftp_login", "sl"},
        {1, "sftp_password", "sp"},
        {1, "sftp_folder", "/in"},
        {1, "wants_sftp", "yes"},
        {2, "sftp_folder", ""},
        {3, "sftp_folder", ""},
        {3, "wants_sftp", "yes"},
        {4, "sftp_server", ""},
        {4, "wants_sftp", "no"}}},
      {"the S3 target passes down with its prefix, as the SFTP target",
       "-udl:@/b.udl -s3:daily/in\n-sql:@/r.sql\n-S3\n-sql:@/q.sql\n-clear -udl:@/b.udl",
       {{0, "s3_prefix", "daily/in"},
        {0, "wants_s3", "yes"},
        {1, "s3_prefix", "daily/in"},
        {1, "wants_s3", "yes"},
        {2, "s3_prefix", ""},
        {2, "wants_s3", "yes"},
        {3, "wants_s3", "yes"},
        {4, "s3_prefix", ""},
        {4, "wants_s3", "no"}}},
      {"HTTP target, fields and params pass down; xmlt does not",
       "-udl:@/b.udl -http -fields:A -params:x=1 -toxml:o.xml -xmltmpl:t.xml\n-params:y=2",
       {{1, "http_url", "http://h/up"},
        {1, "http_password", "hp"},
        {1, "csv_fields", "A=yyyy-mm-dd hh:nn:ss"},
        {1, "sql_parameters", "y=2"},
        {1, "xml_path", "o.xml"},
        {1, "xml_template", ""}}},
      {"subject and text body pass down; a line's own report or body is never replaced",
       "-udl:@/b.udl -mail:ops -subject:S1 -mailbody:@/body1.txt\n-mail:dev\n"
       "-mail:ann -frtemplate:@/t1.tpl\n-subject:S2 -mailbody:@/body2.txt\n-sql:@/q.sql\n"
       "-clear -udl:@/b.udl",
       {{1, "mail_subject", "S1"},
        {1, "mail_body", "first body"},
        {2, "mail_body", ""},
        {2, "report_template", "@/t1.tpl"},
        {3, "mail_to", "ann"},
        {3, "mail_subject", "S2"},
        {3, "report_template", ""},
        {3, "mail_body", "second body"},
        {4, "mail_body", "second body"},
        {5, "mail_subject", ""},
        {5, "mail_body", ""}}},
      {"environment values in option values; -ds and -params stay as written",
       "-udl:@/env.udl -tocsv:${OSTREVANE_TEST_DIR}/a.csv -ds:${OSTREVANE_TEST_DIR} "
       "-params:p=${OSTREVANE_TEST_DIR};q=$${x}",
       {{0, "csv_path", "/srv/out/a.csv"},
        {0, "data_link_text", "Provider=P;Password=${file:@/secret}"},
        {0, "connection_string",
         "Provider=P;Password=${file:@/secret}; Data Source=${OSTREVANE_TEST_DIR}"},
        {0, "sql_parameters", "p=${OSTREVANE_TEST_DIR}|q=$${x}"},
        {0, "list_line",
         "-udl:@/env.udl -tocsv:${OSTREVANE_TEST_DIR}/a.csv "
         "-ds:${OSTREVANE_TEST_DIR} -params:p=${OSTREVANE_TEST_DIR};q=$${x}"}}},
      {"a comment is no job: the line below takes from the job above it",
       "-udl:@/b.udl -sql:@/q.sql -tocsv:o.csv\n# note\n-tocsv:p.csv",
       {{1, "list_line", "-tocsv:p.csv"},
        {1, "list_line_number", "3"},
        {1, "connection_string", b},
        {1, "sql", "select q"},
        {1, "csv_path", "p.csv"}}},
      {"-jobtimeout passes down until -clear; not given, the settings' value counts",
       "-udl:@/b.udl -jobtimeout:30\n-sql:@/q.sql\n-jobtimeout:0\n-clear -udl:@/b.udl\n"
       "-sql:@/q.sql",
       {{0, "job_timeout", "30"},
        {1, "job_timeout", "30"},
        {2, "job_timeout", "0"},
        {3, "job_timeout", "-1"},
        {4, "job_timeout", "-1"}}},
      {"values pass down a run of lines until -clear",
       "-udl:@/b.udl -tocsv:o.csv\n-sql:@/q.sql\n-sql:@/r.sql\n-clear -udl:@/a.udl\n-sql:@/q.sql",
       {{2, "csv_path", "o.csv"},
        {2, "sql", "select r"},
        {3, "csv_path", ""},
        {4, "csv_path", ""},
        {4, "connection_string", "Provider=SQLite;Data Source=x.db"}}},
      {"-csvheader, -compress and -tojson pass down; -clear resets them",
       "-udl:@/b.udl -tocsv:o.csv -csvheader -compress:zstd:9 -tojson:o.jsonl\n-sql:@/q.sql\n"
       "-csvheader:off -compress:none\n-clear -udl:@/b.udl -tocsv:p.csv -compress:GZIP",
       {{0, "csv_header", "on"},
        {1, "csv_header", "on"},
        {1, "compression", "zstd:9"},
        {1, "json_path", "o.jsonl"},
        {2, "csv_header", "off"},
        {2, "compression", "none"},
        {2, "json_path", "o.jsonl"},
        {3, "csv_header", "off"},
        {3, "compression", "gzip:6"},
        {3, "json_path", ""}}},
      {"a JSON Lines file beside an XML template",
       "-udl:@/b.udl -toxml:o.x -xmltmpl:t.xml -tojson:o.x",
       {{0, "json_path", "o.x"}}},
  };
  for (const auto& c : cases) {
    const std::vector<Job> jobs = Expand(c.list);
    for (const Check& k : c.checks) {
      ASSERT_LT(k.job, jobs.size()) << c.what;
      EXPECT_EQ(FieldText(jobs[k.job], k.field), ReplaceAll(k.expected, "@/", dir_.path() + "/"))
          << c.what << ": job " << k.job << " field " << k.field;
    }
  }
}

TEST_F(ListFileTest, EveryJobGetsItsOwnGuidAndTheExpansionTime) {
  const std::vector<Job> jobs = Expand("-udl:@/b.udl\n-sql:@/q.sql\n-clear\n\n-sql:@/r.sql");
  ASSERT_EQ(jobs.size(), 4u);
  std::set<std::string> guids;
  for (const Job& r : jobs) {
    guids.insert(GuidToText(r.id));
    EXPECT_EQ(r.timestamp, 45000.25);
  }
  EXPECT_EQ(guids.size(), 4u);
}

TEST_F(ListFileTest, LongLineIsOneJob) {
  std::string line = "-udl:@/b.udl -params:";
  for (int i = 0; i < 100000; ++i) line += "p" + std::to_string(i) + "=" + std::to_string(i) + ";";
  line += " -tocsv:\"" + std::string(200000, 'x') + " y\"";
  ASSERT_GT(line.size(), 1000000u);
  const std::vector<Job> jobs = Expand(line + "\n-sql:@/q.sql");
  ASSERT_EQ(jobs.size(), 2u);
  ASSERT_EQ(jobs[1].sql_parameters.size(), 100000u);
  EXPECT_EQ(jobs[1].sql_parameters.back().name, "p99999");
  EXPECT_EQ(jobs[1].csv_path.size(), 200002u);
}

TEST(DataSourceTest, ExtractAndAdd) {
  struct {
    std::string init, ds;
  } cases[] = {
      {"Provider=P;Data Source=S1;User ID=u", "S1"},
      {"Provider=P;Data Source=S1", "S1"},
      {"Provider=P;Data Source= \"a;b\"", " \"a"},  // neither trimmed nor unquoted
      {"Provider=P;data source=S1", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DataSourceOf(c.init), c.ds) << c.init;

  std::string init = "Provider=P";
  WithDataSource(init, "S2");
  EXPECT_EQ(init, "Provider=P; Data Source=S2");
  EXPECT_THROW(WithDataSource(init, "S3"), Error);
}

}  // namespace
}  // namespace ostrevane
