// A job's own mail subject and body, and empty results that still report,
// end to end: the real executable, a SQLite file and the local SMTP server,
// every message read back by Python's email package.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/json_reader.h"
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

class ListRunMailPartsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", R"(
      CREATE TABLE items (id INTEGER, region VARCHAR(10));
      INSERT INTO items VALUES (1, 'North'), (2, 'South');
      CREATE TABLE none (id INTEGER, name VARCHAR(10));)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
    WriteFile(dir / "items.sql", "SELECT id, region FROM items ORDER BY id");
    WriteFile(dir / "none.sql", "SELECT id, name FROM none");
    std::filesystem::create_directories(dir / "smtp");
    WriteFile(dir / "settings.ini",
              "[Ostrevane]\nthread_count=1\n[Mail]\nSMTPServer=127.0.0.1\nSMTPPort=" +
                  std::to_string(smtp.port()) +
                  "\nSender=batch@example.org\nSubject=Nightly export\n");
  }

  // Runs `script` with /usr/bin/python3 in the test folder, after a prelude
  // that reads message N as msg(N); "" when it passes, else its output.
  std::string Python(const std::string& script) {
    WriteFile(dir / "check.py",
              "import email, email.policy, sys\n"
              "def msg(n):\n"
              "    with open('smtp/msg-%d/raw.eml' % n, 'rb') as f:\n"
              "        return email.message_from_bytes(f.read(), policy=email.policy.default)\n"
              "def attachments(m):\n"
              "    return [(a.get_filename(), a.get_payload(decode=True)) for a in "
              "m.iter_attachments()]\n" +
                  script);
    const std::string cmd = "cd " + dir.path() + " && /usr/bin/python3 check.py > check.out 2>&1";
    if (std::system(cmd.c_str()) == 0) return "";
    return "python: " + ReadFile(dir / "check.out");
  }

  TempDir dir;
  ServerProcess smtp{"smtp_server.py", {"--out", dir / "smtp"}};
};

// -subject with its macros and -mailbody (plain, or HTML when it starts
// with "<") before the attachments; both pass down to the next line, and
// -clear ends them.
TEST_F(ListRunMailPartsTest, SubjectAndBodyOfEachJob) {
  WriteFile(dir / "body.txt", "Hello,\nthe export is attached.\n\xC3\x84rger? Nein.\n");
  WriteFile(dir / "body.html", "  <p>Report <b>ready</b></p>\n");
  WriteFile(dir / "jobs.txt",
            "-udl:t.udl -sql:items.sql -csvcp:0 -tocsv:out/a.csv -mail:ops@example.org "
            "-fdf:YYYY-MM-DD -subject:\"Sales ?DATE for :REGION (line ?LINE)\" "
            "-mailbody:body.txt\n"
            "-tocsv:out/b.csv -mailbody:body.html\n"
            "-clear -udl:t.udl -sql:items.sql -csvcp:0 -tocsv:out/c.csv -mail:ops@example.org\n");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Python(R"(
import re, datetime
today = datetime.date.today().isoformat()
m = msg(1)
assert m['Subject'] == 'Sales %s for North (line 1)' % today, m['Subject']
body = m.get_body(preferencelist=('html', 'plain'))
assert body.get_content_type() == 'text/plain', body.get_content_type()
assert body.get_content_charset() == 'utf-8'
assert body.get_content().replace('\r\n', '\n') == 'Hello,\nthe export is attached.\n\u00c4rger? Nein.\n', repr(body.get_content())
assert attachments(m) == [('a.csv', b'1;North\r\n2;South')], attachments(m)
m = msg(2)
assert m['Subject'] == 'Sales %s for North (line 2)' % today, m['Subject']
body = m.get_body(preferencelist=('html', 'plain'))
assert body.get_content_type() == 'text/html', body.get_content_type()
assert body.get_content().replace('\r\n', '\n') == '  <p>Report <b>ready</b></p>\n'
assert attachments(m) == [('b.csv', b'1;North\r\n2;South')], attachments(m)
m = msg(3)
assert m['Subject'] == 'Nightly export', m['Subject']
assert m.get_body(preferencelist=('html', 'plain')) is None
assert attachments(m) == [('c.csv', b'1;North\r\n2;South')], attachments(m)
)"),
            "");
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(ReadFile(dir / ("smtp/msg-" + std::to_string(n) + "/defects.txt")), "") << n;
}

// -ifempty:deliver: a job without records is done, writes its CSV file
// empty (or only its header line), its XML file with RECORDS COUNT="0" and
// its JSON Lines file empty, mails them, and a report shows its inverted
// section.
TEST_F(ListRunMailPartsTest, EmptyResultsAreWrittenAndDelivered) {
  WriteFile(dir / "report.mustache",
            "<h1>New customers</h1>\n{{#frDataSet}}<p>{{name}}</p>\n{{/frDataSet}}"
            "{{^frDataSet}}<p>No records.</p>\n{{/frDataSet}}");
  WriteFile(dir / "jobs.txt",
            "-udl:t.udl -sql:none.sql -ifempty:deliver -csvcp:0 -tocsv:out/e.csv "
            "-toxml:out/e.xml -tojson:out/e.jsonl -mail:ops@example.org -subject:\"New: :NAME\"\n"
            "-tocsv:out/r.csv -csvheader -mail:ops@example.org -frtemplate:report.mustache\n");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "out/e.csv"), "");
  EXPECT_EQ(ReadFile(dir / "out/r.csv"), "id;name\r\n");
  EXPECT_EQ(ReadFile(dir / "out/e.jsonl"), "");
  const std::string xml = ReadFile(dir / "out/e.xml");
  EXPECT_NE(xml.find("<FIELD NAME=\"name\" DATATYPE=\"String\"/>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<RECORDS COUNT=\"0\">\r\n\t\t</RECORDS>"), std::string::npos) << xml;
  EXPECT_NE(r.out.find("job 1, line 1: zero records returned, files written empty"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Python(R"(
import xml.dom.minidom
m = msg(1)
assert m['Subject'] == 'New: :NAME', m['Subject']
files = dict(attachments(m))
assert files['e.csv'] == b'' and files['e.jsonl'] == b'', files
assert xml.dom.minidom.parseString(files['e.xml']).getElementsByTagName('RECORDS')[0].getAttribute('COUNT') == '0'
m = msg(2)
assert not m.is_multipart()
html = m.get_content()
assert '<p>No records.</p>' in html, html
)"),
            "");
  const JsonValue report = ParseJson(ReadFile(dir / "log/RESULT.json"));
  for (const JsonValue& job : report.Find("jobs")->items) {
    EXPECT_EQ(job.Find("status")->text, "done");
    EXPECT_EQ(job.Find("note")->text, "zero records returned, files written empty");
    EXPECT_EQ(job.Find("deliveries")->items.size(), 1u);
  }
}

}  // namespace
}  // namespace ostrevane
