#include <gtest/gtest.h>

#include "control/list_file.h"
#include "control/options.h"

namespace ostrevane {
namespace {

TEST(DescribeJobsTest, OneBlockPerJobWithoutPasswords) {
  std::vector<tRec> jobs(2);
  tRec& a = jobs[0];
  ClearRec(a);
  SetDefaultFormats(a);
  a.line_no = 3;
  a.s = "Provider=PostgreSQL;Data Source=db1;User ID=u;Password=\"se;cret\"; Data Source=SRV01";
  a.ds = "SRV01";
  a.name = "Sales";
  a.ss = "select 1\r\n";
  a.postrecss = "x";
  a.csv = "out\\?DATE.csv";
  a.xml = "o.xml";
  a.xmlt = "t.xml";
  a.mailto = "ops@example.com";
  a.frtemplate = "t1";
  a.httpto = "http://h/up";
  a.httpp = "httpsecret";
  a.ftpto = "ftp.example";
  a.ftpp = "ftpsecret";
  a.fields = {{"ID", "yyyy-mm-dd hh:nn:ss"}};
  a.params = {{"a", "1=2"}, {"b\n", ""}};
  tRec& b = jobs[1];
  ClearRec(b);
  b.line_no = 7;
  b.ds = "x.db";
  b.name = "x.db";

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
      "  param          b\\x0A = ",
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
