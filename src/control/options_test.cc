#include "control/options.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/error.h"
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
    ctx_.format.ShortDateFormat = "dd.mm.yy";
    ctx_.format.ShortTimeFormat = "hh:nn";
  }
  // A record as single-job mode starts it, with the tokens applied in order.
  tRec Parse(const std::vector<std::string>& tokens) const {
    tRec r;
    ClearRec(r);
    SetDefaultFormats(r);
    for (const std::string& t : tokens) ParseOption(t, r, ctx_);
    return r;
  }

  Settings settings_;
  NamesTable names_;
  OptionContext ctx_;
};

TEST_F(OptionsTest, TextOptions) {
  struct {
    std::vector<std::string> tokens;
    std::string tRec::*field;
    std::string expected;
  } cases[] = {
      {{"-Tocsv:out.csv"}, &tRec::csv, "out.csv"},
      {{"/tocsv:out.csv"}, &tRec::csv, ""},  // "/" does not introduce an option
      {{"-tocsv"}, &tRec::csv, ""},
      {{"-tocsv:a", "-tocsv:b"}, &tRec::csv, "b"},
      {{"-tocsv:C:\\out\\?DATE.csv"}, &tRec::csv, "C:\\out\\?DATE.csv"},  // first ":" only
      {{"-toxml:\"a b.xml\""}, &tRec::xml, "\"a b.xml\""},  // quotes in the value stay
      {{"-\"toxml\":x.xml"}, &tRec::xml, "x.xml"},          // quotes in the name go
      {{"-\"to:xml\":x.xml"}, &tRec::xml, ""},              // a quoted ":" is part of the name
      {{"-XMLTMPL:t.xml"}, &tRec::xmlt, "t.xml"},
      {{"-fdf:YYYY"}, &tRec::fdf, "YYYY"},
      {{"-ftf:HHNN"}, &tRec::ftf, "HHNN"},
      {{"-csvformat:,"}, &tRec::csvsep, ","},
      {{"-csvformat:,"}, &tRec::csvisl, ""},
      {{"-csvformat:,'x"}, &tRec::csvsep, ","},
      {{"-csvformat:,'x"}, &tRec::csvisl, "'"},
      {{"-csvformat:"}, &tRec::csvsep, ";"},  // empty: unchanged
      {{"-csvformat:"}, &tRec::csvisl, "\""},
      {{"-csvformat:\xC2\xA7\xC2\xAB"}, &tRec::csvisl, "\xC2\xAB"},  // whole characters
      {{"-mail:ops", "-frtemplate:t1"}, &tRec::frtemplate, "t1"},
      {{"-frtemplate:t1", "-mail:ops"}, &tRec::frtemplate, ""},
      {{"-frtemplate:t1", "-mail:ops"}, &tRec::mailto, "ops"},
      {{"-ds:srv01"}, &tRec::ds, "srv01"},
      {{"-ds:srv01"}, &tRec::name, "Sales"},
      {{"-ds:SRV02"}, &tRec::name, "SRV02"},
      {{"-http:ignored"}, &tRec::httpto, "http://h/up"},
      {{"-http"}, &tRec::httpl, "hl"},
      {{"-http"}, &tRec::httpp, "hp"},
      {{"-ftp:x"}, &tRec::ftpto, "ftp.example"},
      {{"-ftp:x"}, &tRec::ftpdir, ""},
      {{"-ftpdir:in"}, &tRec::ftpdir, "in"},
      {{"-ftpdir:in"}, &tRec::ftpl, "fl"},
      {{"-ftpdir:in"}, &tRec::ftpp, "fp"},
      {{"-nosuch:x", "", "-", ":x"}, &tRec::csv, ""},
  };
  for (const auto& c : cases) {
    const tRec r = Parse(c.tokens);
    EXPECT_EQ(r.*c.field, c.expected) << ::testing::PrintToString(c.tokens);
  }
  EXPECT_TRUE(Parse({"-clear:anything"}).clear);
  EXPECT_TRUE(Parse({"-CLEAR"}).clear);
  EXPECT_FALSE(Parse({"-clearx"}).clear);
}

TEST_F(OptionsTest, CsvCodePageKeepsLowEightBits) {
  struct {
    std::string value;
    int expected;
  } cases[] = {{"1", 1}, {"256", 0}, {"255", 255}, {"-1", 255}, {"$1F", 31},
               {"0x101", 1}, {" 7", 7}, {"-2147483648", 0}, {"$FFFFFFFF", 255}};
  for (const auto& c : cases) EXPECT_EQ(Parse({"-csvcp:" + c.value}).csvcp, c.expected) << c.value;

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

TEST_F(OptionsTest, FieldAndParamLists) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  auto pairs = [](const std::vector<tParamRec>& list) {
    Pairs out;
    for (const tParamRec& p : list) out.emplace_back(p.name, p.value);
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
    const tRec r = Parse(c.tokens);
    EXPECT_EQ(pairs(r.fields), c.fields) << ::testing::PrintToString(c.tokens);
    EXPECT_EQ(pairs(r.params), c.params) << ::testing::PrintToString(c.tokens);
  }
}

TEST_F(OptionsTest, FileOptionsReadTheirFiles) {
  TempDir dir;
  WriteFile(dir / "a.udl", "[oledb]\n; Everything after this line is an OLE DB initstring\n"
                           "Provider=SQLite;Data Source=x.db\n");
  WriteFile(dir / "sub/q.sql", "\xEF\xBB\xBFselect 1");
  WriteFile(dir / "p.sql", "update t");
  WriteFile(dir / "r.sql", "insert :ID");
  const tRec r = Parse({"-udl:" + dir / "a.udl", "-sql:" + dir.path() + "\\sub\\q.sql",
                        "-postsql:" + dir / "p.sql", "-POSTRECSQL:" + dir / "r.sql"});
  EXPECT_EQ(r.cs, "Provider=SQLite;Data Source=x.db");
  EXPECT_EQ(r.ss, "select 1");
  EXPECT_EQ(r.postss, "update t");
  EXPECT_EQ(r.postrecss, "insert :ID");
}

TEST_F(OptionsTest, BadFileOptionsAndQuotes) {
  TempDir dir;
  struct {
    std::string token, class_name, message;
  } cases[] = {
      {"-udl:" + dir / "missing.udl", "Exception", "File " + dir / "missing.udl" + "does not exist"},
      {"-sql:", "Exception", "File does not exist"},
      {"-postsql", "Exception", "File does not exist"},
      {"-postrecsql:\"" + dir / "x.sql", "Exception", "File \"" + dir / "x.sql" + "does not exist"},
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
