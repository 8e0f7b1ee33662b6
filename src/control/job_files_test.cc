#include "control/job_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/codepage.h"
#include "common/error.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {
using namespace std::string_literals;

using testing::TempDir;
using testing::WriteFile;

// Selects an 8-bit code page for one test and restores UTF-8 afterwards.
class CodePageScope {
 public:
  explicit CodePageScope(const std::string& name) { SetAnsiCodePage(name); }
  ~CodePageScope() { SetAnsiCodePage(""); }
};

TEST(JobFilesTest, MarkSelectsEncodingAndText) {
  CodePageScope cp1252("CP1252");
  struct {
    std::string content;
    TextEncoding encoding;
    std::string bytes, text;
  } cases[] = {
      {"", TextEncoding::kAnsi, "", ""},
      {"\xFF", TextEncoding::kAnsi, "\xFF", "\xC3\xBF"},
      {"\xFF\xFE", TextEncoding::kUtf16Le, "", ""},
      {"\xFF\xFEP\0=\0\xE9\0"s, TextEncoding::kUtf16Le, "P\0=\0\xE9\0"s, "P=\xC3\xA9"},
      {"\xFE\xFF\0a\0\xE9"s, TextEncoding::kUtf16Be, "\0a\0\xE9"s, "a\xC3\xA9"},
      {"\xEF\xBB\xBFselect '\xC3\xA9'", TextEncoding::kUtf8, "select '\xC3\xA9'",
       "select '\xC3\xA9'"},
      {"\xEF\xBB", TextEncoding::kAnsi, "\xEF\xBB", "\xC3\xAF\xC2\xBB"},
      // Unmarked: valid UTF-8 stays UTF-8, anything else is the 8-bit code page.
      {"select '\xC3\xA9'", TextEncoding::kAnsi, "select '\xC3\xA9'", "select '\xC3\xA9'"},
      {"select '\xE9'", TextEncoding::kAnsi, "select '\xE9'", "select '\xC3\xA9'"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteFile(dir / "f.txt", c.content);
    FileBytes f = ReadJobFile(dir / "f.txt");
    EXPECT_EQ(f.encoding, c.encoding) << c.content;
    EXPECT_EQ(f.bytes, c.bytes) << c.content;
    EXPECT_EQ(DecodeTextFile(f), c.text) << c.content;
  }
}

TEST(JobFilesTest, BackslashIsAFolderDelimiter) {
  TempDir dir;
  WriteFile(dir / "sub/q.sql", "select 1");
  EXPECT_EQ(DecodeTextFile(ReadJobFile(dir.path() + "\\sub\\q.sql")), "select 1");
}

TEST(JobFilesTest, MissingFileNamesItsAbsolutePath) {
  TempDir dir;
  const std::string saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  struct {
    std::string name, message;
  } cases[] = {
      {dir / "missing.udl", "File " + dir / "missing.udl" + " does not exist"},
      {"sql/renamed.sql", "File " + dir / "sql/renamed.sql" + " does not exist"},
      {"", "no file name given"},
  };
  for (const auto& c : cases) {
    try {
      ReadJobFile(c.name);
      ADD_FAILURE() << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), "Exception");
      EXPECT_EQ(e.message(), c.message);
    }
  }
  std::filesystem::current_path(saved);
}

// A directory, a file that cannot be opened and a file whose read fails all
// end with a file error that names the file.
TEST(JobFilesTest, UnreadableFilesRaiseFileErrorNamingThem) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> cases = {
      {dir.path(), "Is a directory"},
      {"/proc/self/mem", "Input/output error"},  // opens, but reading offset 0 fails
  };
  if (geteuid() != 0) {  // root reads files whatever their mode
    WriteFile(dir / "locked.sql", "select 1");
    chmod((dir / "locked.sql").c_str(), 0);
    cases.emplace_back(dir / "locked.sql", "Permission denied");
  }
  for (const auto& [name, reason] : cases) {
    try {
      ReadJobFile(name);
      ADD_FAILURE() << name;
    } catch (const Error& e) {
      EXPECT_EQ(e.class_name(), kEFOpenError) << name;
      EXPECT_NE(e.message().find("\"" + name + "\""), std::string::npos) << e.message();
      EXPECT_NE(e.message().find(reason), std::string::npos) << e.message();
    }
  }
}

TEST(JobFilesTest, UdlToInitStringDropsHeaderAndComment) {
  struct {
    std::string text, init;
  } cases[] = {
      {"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
       "Provider=X;Data Source=Y\r\n",
       "Provider=X;Data Source=Y"},
      {"  Provider=X\t", "Provider=X"},
      {"[OLEDB]\r\nProvider=X", "[OLEDB]\r\nProvider=X"},  // exact case only
      {"Provider=X;[oledb]Data Source=Y", "Provider=X;Data Source=Y"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DataLinkToConnectionString(c.text), c.init) << c.text;
}

TEST(JobFilesTest, UnicodeDataLinkFileGivesInitString) {
  TempDir dir;
  std::string udl = "\xFF\xFE";
  for (char c : std::string("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                            "Provider=SQLite;Data Source=d.db\r\n")) {
    udl += c;
    udl += '\0';
  }
  WriteFile(dir / "a.udl", udl);
  EXPECT_EQ(DataLinkToConnectionString(DecodeTextFile(ReadJobFile(dir / "a.udl"))),
            "Provider=SQLite;Data Source=d.db");
}

}  // namespace
}  // namespace ostrevane
