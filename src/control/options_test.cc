#include "control/options.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/error.h"
#include "common/path.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;
using testing::WriteFile;

class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest() {
    settings_.http = {"http://h/up", "hl", "hp", 0, false};
    settings_.ftp = {"ftp.example", "fl", "fp", 21, false};
    names_ = {{"Sales", "SRV01"}};
    ctx_.settings = &settings_;
    ctx_.names = &names_;
    ctx_.format.short_date_format = "dd.mm.yy";
    ctx_.format.short_time_format = "hh:nn";
  }
  // A record as single-job mode starts it, with the tokens applied in order.
  Job Parse(const std::vector<std::string>& tokens) const {
    Job r;
    ResetOptions(r);
    SetDefaultFormats(r);
    for (const std::string& t : tokens) ApplyOption(t, r, ctx_);
    return r;
  }

  Settings settings_;
  NamesTable names_;
  OptionContext ctx_;
};

TEST_F(OptionsTest, TextOptions) {
  struct {
    std::vector<std::string> tokens;
    std::string Job::*field;
    std::string expected;
  } cases[] = {
      {{"-Tocsv:out.csv"}, &Job::csv_path, "out.csv"},
      {{"-tocsv"}, &Job::csv_path, ""},
      {{"-tocsv:a", "-tocsv:b"}, &Job::csv_path, "b"},
      {{"-tocsv:C:\\out\\?DATE.csv"}, &Job::csv_path, "C:\\out\\?DATE.csv"},  // first ":" only
      {{"-toxml:\"a b.xml\""}, &Job::xml_path, "\"a b.xml\""},  // quotes in the value stay
      {{"-\"toxml\":x.xml"}, &Job::xml_path, "x.xml"},          // quotes in the name go
      {{"-XMLTMPL:t.xml"}, &Job::xml_template, "t.xml"},
      {{"-fdf:YYYY"}, &Job::date_pattern, "YYYY"},
      {{"-ftf:HHNN"}, &Job::time_pattern, "HHNN"},
      {{"-csvformat:,"}, &Job::csv_separator, ","},
      {{"-csvformat:,"}, &Job::csv_quote, ""},
      {{"-csvformat:,'x"}, &Job::csv_separator, ","},
      {{"-csvformat:,'x"}, &Job::csv_quote, "'"},
      {{"-csvformat:"}, &Job::csv_separator, ";"},  // empty: unchanged
      {{"-csvformat:"}, &Job::csv_quote, "\""},
      {{"-csvformat:\xC2\xA7\xC2\xAB"}, &Job::csv_quote, "\xC2\xAB"},  // whole characters
      {{"-mail:ops", "-frtemplate:t1"}, &Job::report_template, "t1"},
      {{"-frtemplate:t1", "-mail:ops"}, &Job::report_template, ""},
      {{"-frtemplate:t1", "-mail:ops"}, &Job::mail_to, "ops"},
      {{"-ds:srv01"}, &Job::data_source, "srv01"},
      {{"-ds:srv01"}, &Job::data_source_name, "Sales"},
      {{"-ds:SRV02"}, &Job::data_source_name, "SRV02"},
      {{"-http:ignored"}, &Job::http_url, "http://h/up"},
      {{"-http"}, &Job::http_login, "hl"},
      {{"-http"}, &Job::http_password, "hp"},
      {{"-ftp:x"}, &Job::ftp_server, "ftp.example"},
      {{"-ftp:x"}, &Job::ftp_folder, ""},
      {{"-ftpdir:in"}, &Job::ftp_folder, "in"},
      {{"-ftpdir:in"}, &Job::ftp_login, "fl"},
      {{"-ftpdir:in"}, &Job::ftp_password, "fp"},
      {{""}, &Job::csv_path, ""},  // two spaces in a line: nothing
  };
  for (const auto& c : cases) {
    const Job r = Parse(c.tokens);
    EXPECT_EQ(r.*c.field, c.expected) << ::testing::PrintToString(c.tokens);
  }
  EXPECT_TRUE(Parse({"-clear:anything"}).starts_afresh);
  EXPECT_TRUE(Parse({"-CLEAR"}).starts_afresh);
  EXPECT_THROW(Parse({"-clearx"}), Error);  // no option of that name
}

TEST_F(OptionsTest, CsvCodePageKeepsLowEightBits) {
  struct {
    std::string value;
    int expected;
  } cases[] = {{"1", 1}, {"256", 0}, {"255", 255}, {"-1", 255}, {"$1F", 31},
               {"0x101", 1}, {" 7", 7}, {"-2147483648", 0}, {"$FFFFFFFF", 255}};
  for (const auto& c : cases)
    EXPECT_EQ(Parse({"-csvcp:" + c.value}).csv_code_page, c.expected) << c.value;

  for (const std::string& bad : std::vector<std::string>{"abc", "", "1.5", "7 ", "2147483648", "0x", "--1", "\"1\""}) {
    try {
      Parse({"-csvcp:" + bad});
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), kEConvertError);
      EXPECT_EQ(e.message(), "'" + bad + "' is not a valid integer value");
    }
  }
}

TEST_F(OptionsTest, JobTimeoutTakesWholeSeconds) {
  struct {
    std::string value;
    int expected;  // -1: refused
  } cases[] = {{"30", 30}, {"0", 0}, {"0x10", 16}, {"-1", -1}, {"", -1}, {"1.5", -1}, {"x", -1}};
  for (const auto& c : cases) {
    if (c.expected >= 0) {
      EXPECT_EQ(Parse({"-jobtimeout:" + c.value}).job_timeout, c.expected) << c.value;
      continue;
    }
    try {
      Parse({"-jobtimeout:" + c.value});
      ADD_FAILURE() << c.value;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(),
                "option -jobtimeout: \"" + c.value + "\" is no number of seconds (0 for no limit)");
    }
  }
  EXPECT_EQ(Parse({}).job_timeout, -1);  // not given
}

TEST_F(OptionsTest, FieldAndParamLists) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  auto pairs = [](const std::vector<NameValue>& list) {
    Pairs out;
    for (const NameValue& p : list) out.emplace_back(p.name, p.value);
    return out;
  };
  struct {
    std::vector<std::string> tokens;
    Pairs fields, params;
  } cases[] = {
      {{"-fields:ID;DT=dd.mm.yyyy"}, {{"ID", "dd.mm.yy hh:nn"}, {"DT", "dd.mm.yyyy"}}, {}},
      {{"-fields:A", "-FIELDS:B=x"}, {{"A", "dd.mm.yy hh:nn"}, {"B", "x"}}, {}},
      {{"-params:a=1=2"}, {}, {{"a", "1=2"}}},
      {{"-params:x"}, {}, {{"x", ""}}},
      {{"-params:a;;b;"}, {}, {{"a", ""}, {"", ""}, {"b", ""}}},
      {{"-params:"}, {}, {}},
      {{"-params:a=\"x;y\""}, {}, {{"a", "\"x"}, {"y\"", ""}}},  // no quoting in lists
      {{"-params:d=C:\\x"}, {}, {{"d", "C:\\x"}}},
  };
  for (const auto& c : cases) {
    const Job r = Parse(c.tokens);
    EXPECT_EQ(pairs(r.csv_fields), c.fields) << ::testing::PrintToString(c.tokens);
    EXPECT_EQ(pairs(r.sql_parameters), c.params) << ::testing::PrintToString(c.tokens);
  }
}

TEST_F(OptionsTest, FileOptionsReadTheirFiles) {
  TempDir dir;
  WriteFile(dir / "a.udl", "[oledb]\n; Everything after this line is an OLE DB initstring\n"
                           "Provider=SQLite;Data Source=x.db\n");
  WriteFile(dir / "sub/q.sql", "\xEF\xBB\xBFselect 1");
  WriteFile(dir / "p.sql", "update t");
  WriteFile(dir / "r.sql", "insert :ID");
  const Job r = Parse({"-udl:" + dir / "a.udl", "-sql:" + dir.path() + "\\sub\\q.sql",
                       "-postsql:" + dir / "p.sql", "-POSTRECSQL:" + dir / "r.sql"});
  EXPECT_EQ(r.data_link_text, "Provider=SQLite;Data Source=x.db");
  EXPECT_EQ(r.sql, "select 1");
  EXPECT_EQ(r.post_sql, "update t");
  EXPECT_EQ(r.per_record_sql, "insert :ID");
}

TEST_F(OptionsTest, BadFileOptionsAndQuotes) {
  TempDir dir;
  struct {
    std::string token, class_name, message;
  } cases[] = {
      {"-udl:" + dir / "missing.udl", "Exception", "File " + dir / "missing.udl" + " does not exist"},
      {"-sql:", "Exception", "no file name given"},
      {"-postsql", "Exception", "no file name given"},
      {"-postrecsql:\"" + dir / "x.sql", "Exception",
       "File " + AbsolutePath("\"" + dir / "x.sql") + " does not exist"},
      // Not options: a mistake, not nothing.
      {"/tocsv:out.csv", "Exception", "unknown option \"/tocsv:out.csv\""},
      {"-\"to:xml\":x.xml", "Exception", "unknown option \"-\"to:xml\":x.xml\""},  // a quoted ":" is in the name
      {"-tocvs:o.csv", "Exception", "unknown option \"-tocvs:o.csv\""},
      {"-sql:" + dir.path(), kEFOpenError, "Cannot open file \"" + dir.path() + "\". Is a directory"},
      {"-\"sql:x", "Exception", "Can't find 2nd insulator '\"':\r\nsql:x"},
  };
  for (const auto& c : cases) {
    try {
      Parse({c.token});
      ADD_FAILURE() << c.token;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), c.class_name) << c.token;
      EXPECT_EQ(e.message(), c.message) << c.token;
    }
  }
}

}  // namespace
}  // namespace ostrevane
