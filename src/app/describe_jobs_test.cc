#include <gtest/gtest.h>

#include "control/list_file.h"
#include "control/options.h"

namespace ostrevane {
namespace {

TEST(DescribeJobsTest, OneBlockPerJobWithoutPasswords) {
  std::vector<Job> jobs(2);
  Job& a = jobs[0];
  ResetOptions(a);
  SetDefaultFormats(a);
  a.list_line_number = 3;
  a.connection_string =
      "Provider=PostgreSQL;Data Source=db1;User ID=u;Password=\"se;cret\"; Data Source=SRV01";
  a.data_source = "SRV01";
  a.data_source_name = "Sales";
  a.sql = "select 1\r\n";
  a.per_record_sql = "x";
  a.csv_path = "out\\?DATE.csv";
  a.xml_path = "o.xml";
  a.xml_template = "t.xml";
  a.mail_to = "ops@example.com";
  a.report_template = "t1";
  a.http_url = "http://h/up";
  a.http_password = "httpsecret";
  a.ftp_server = "ftp.example";
  a.ftp_password = "ftpsecret";
  a.csv_fields = {{"ID", "yyyy-mm-dd hh:nn:ss"}};
  a.sql_parameters = {{"a", "1=2"}, {"b\n", ""}};
  Job& b = jobs[1];
  ResetOptions(b);
  b.list_line_number = 7;
  b.data_source = "x.db";
  b.data_source_name = "x.db";

  const std::vector<std::string> expected = {
      "job 1, list line 3",
      "  kind           result (writes files)",
      "  connection     Provider=PostgreSQL;Data Source=db1;User ID=u;Password=***; Data "
      "Source=SRV01",
      "  data source    SRV01 (Sales)",
      "  sql            10 bytes",
      "  post-rec sql   1 byte",
      "  csv            out\\?DATE.csv",
      "  xml            o.xml",
      "  xml template   t.xml (no XML output)",
      "  csv format     separator \";\", quote \"\"\", code page 1 (UTF-16LE)",
      "  ?DATE ?TIME    \"YYYYMMDD\" \"HHNNSSZZZ\"",
      "  mail           ops@example.com (template t1)",
      "  http           http://h/up",
      "  ftp            ftp.example (folder none)",
      "  field          ID = yyyy-mm-dd hh:nn:ss",
      "  param          a = 1=2",
      "  param          b\\n = ",
      "",
      "job 2, list line 7",
      "  kind           script (no result file: the SQL runs as batches)",
      "  connection     none",
      "  data source    x.db",
      "  sql            none",
      "  csv format     separator none, quote none, code page 255 (8-bit)",
      "  ?DATE ?TIME    none none",
      "  delivery       none",
      "",
      "2 jobs",
  };
  EXPECT_EQ(DescribeJobs(jobs), expected);
  EXPECT_EQ(DescribeJobs({}), std::vector<std::string>{"0 jobs"});
}

}  // namespace
}  // namespace ostrevane
