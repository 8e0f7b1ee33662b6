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
    WriteFile(dir_ / "t1", "{{#records}}{{/records}}");
  }
  // A record as single-job mode starts it, with the tokens applied in order.
  Job Parse(const std::vector<std::string>& tokens) const {
    Job r;
    ResetOptions(r);
    SetDefaultFormats(r);
    for (const std::string& t : tokens) ApplyOption(t, r, ctx_);
    return r;
  }
  // "Class: message" of the error the tokens raise; empty when none does.
  std::string ErrorOf(const std::vector<std::string>& tokens) const {
    try {
      Parse(tokens);
    } catch (const Error& e) {
      return e.class_name() + ": " + e.message();
    }
    return "";
  }

  TempDir dir_;
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
      {{"-csvformat:,"}, &Job::csv_quote, ""},  // not given: expansion fills it in
      {{"-csvformat:,'"}, &Job::csv_separator, ","},
      {{"-csvformat:,'"}, &Job::csv_quote, "'"},
      {{"-csvformat:\xC2\xA7\xC2\xAB"}, &Job::csv_quote, "\xC2\xAB"},  // whole characters
      // "\t" is a TAB, in either place; a literal TAB is one too.
      {{"-csvformat:\\t"}, &Job::csv_separator, "\t"},
      {{"-csvformat:\\t"}, &Job::csv_quote, ""},
      {{"-csvformat:\\t'"}, &Job::csv_quote, "'"},
      {{"-csvformat:;\\t"}, &Job::csv_quote, "\t"},
      {{"-csvformat:\t\""}, &Job::csv_separator, "\t"},
      {{"-csvformat:\\"}, &Job::csv_separator, "\\"},  // a backslash alone is itself
      {{"-csvformat:\\\""}, &Job::csv_quote, "\""},
      {{"-mail:ops", "-frtemplate:" + dir_ / "t1"}, &Job::report_template, dir_ / "t1"},
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

  for (const std::string& bad : std::vector<std::string>{"abc", "", "1.5", "7 ", "2147483648", "0x", "--1", "\"1\""})
    EXPECT_EQ(ErrorOf({"-csvcp:" + bad}),
              std::string(kEConvertError) + ": '" + bad + "' is not a valid integer value");
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
  const TempDir& dir = dir_;
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
      // A report template is read like an SQL file.
      {"-frtemplate:" + dir / "none.tpl", "Exception", "File " + dir / "none.tpl" + " does not exist"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf({c.token}), c.class_name + ": " + c.message);
}

// Values that cannot be meant stop the run, naming the option, instead of
// becoming a wrong file name, separator or mail.
TEST_F(OptionsTest, RefusedValues) {
  const std::string tab_text =
      "; options are separated by spaces, and no file name, folder or recipient holds a TAB or "
      "another control character";
  struct {
    std::vector<std::string> tokens;
    std::string message;
  } cases[] = {
      {{"-tocsv:t.csv\t-mail:ops@example.com"},
       "option -tocsv: the value \"t.csv\\t-mail:ops@example.com\" holds a TAB" + tab_text},
      {{"-toxml:a\x01.xml"},
       "option -toxml: the value \"a\\x01.xml\" holds the control character U+0001" + tab_text},
      {{"-mail:ops@example.com\r\nBcc: x@y"},
       "option -mail: the value \"ops@example.com\\r\\nBcc: x@y\" holds the control character "
       "U+000D" + tab_text},
      {{"-ftpdir:in\xC2\x85"}, "option -ftpdir: the value \"in\\u0085\" holds the control "
                               "character U+0085" + tab_text},
      {{"-sftp:\tin"}, "option -sftp: the value \"\\tin\" holds a TAB" + tab_text},
      {{"-sql:q.sql\t"}, "option -sql: the value \"q.sql\\t\" holds a TAB" + tab_text},
      {{"-udl:c\x7F.udl"}, "option -udl: the value \"c\\x7F.udl\" holds the control character U+007F" + tab_text},
      {{"-frtemplate:t\tx"}, "option -frtemplate: the value \"t\\tx\" holds a TAB" + tab_text},
      {{"-fdf:YYYY\t-tocsv:x"}, "option -fdf: the value \"YYYY\\t-tocsv:x\" holds a TAB" + tab_text},
      {{"-csvformat:"},
       "option -csvformat: no separator given; for a TAB write -csvformat:\\t (a TAB at the end "
       "of a line is removed with the line's blanks)"},
      {{"-csvformat:,\"x"},
       "option -csvformat: \",\"x\" is more than a separator and a quote character; write \\t for "
       "a TAB, and separate options by spaces"},
      {{"-csvformat:\t-tocsv:x.csv"},
       "option -csvformat: \"\\t-tocsv:x.csv\" is more than a separator and a quote character; "
       "write \\t for a TAB, and separate options by spaces"},
      {{"-frtemplate:" + dir_ / "t1", "-mail:ops"},
       "-frtemplate is given before -mail, which clears it; write -mail first: "
       "-mail:RECIPIENTS -frtemplate:FILE"},
      {{"-mail:a", "-frtemplate:" + dir_ / "t1", "-mail:b"},
       "-frtemplate is given before -mail, which clears it; write -mail first: "
       "-mail:RECIPIENTS -frtemplate:FILE"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorOf(c.tokens), "Exception: " + c.message) << ::testing::PrintToString(c.tokens);
  // A TAB stays welcome where it may be a value.
  EXPECT_EQ(Parse({"-params:sep=\t"}).sql_parameters[0].value, "\t");
  EXPECT_EQ(Parse({"-ds:a\tb"}).data_source, "a\tb");
}

// Messages and reports show options with their secrets masked.
TEST_F(OptionsTest, MaskedOptionsInMessages) {
  struct {
    std::string token, shown;
  } cases[] = {
      {"-dss:x;Password=Hunter2", "-dss:x;Password=***"},
      {"-params:password=Hunter2;x=1", "-params:password=***;x=1"},
      {"-params:api_token=Hunter2", "-params:api_token=***"},
      {"-ds:\"127.0.0.1:54329;Password=Hunter2\"", "-ds:\"127.0.0.1:54329;Password=***"},
      {"-ds:ann:Hunter2@db.example", "-ds:ann:***@db.example"},
      {"-tocvs:ftp://ann:Hunter2@h/x.csv", "-tocvs:ftp://ann:***@h/x.csv"},
      {"Password=Hunter2", "Password=***"},
      {"-tocvs:o.csv", "-tocvs:o.csv"},
      {"-mial:ops@example.com", "-mial:ops@example.com"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskedOption(c.token), c.shown) << c.token;
  EXPECT_EQ(MaskedListLine("-udl:a.udl  -params:pwd=Hunter2 -tocsv:\"a b.csv\""),
            "-udl:a.udl  -params:pwd=*** -tocsv:a b.csv");

  // The unknown option and the unclosed quote keep the secret out.
  EXPECT_EQ(ErrorOf({"-dss:x;Password=Hunter2"}),
            "Exception: unknown option \"-dss:x;Password=***\"");
  EXPECT_EQ(ErrorOf({"-\"ds:x;Password=Hunter2"}),
            "Exception: Can't find 2nd insulator '\"':\r\nds:x;Password=***");
  EXPECT_EQ(UnclosedQuote("-ds:x;Password=\"Hunter 2", "Hunter 2").message(),
            "Can't find 2nd insulator '\"':\r\n***");
  EXPECT_EQ(UnclosedQuote("-sql:\"a b.sql", "a b.sql").message(),
            "Can't find 2nd insulator '\"':\r\na b.sql");
}

}  // namespace
}  // namespace ostrevane
