#include "settings/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/text.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::string Utf16Le(std::string_view utf8) {
  std::string out;
  AppendUtf16Le(out, utf8);
  return out;
}

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The message of the Error that `f` throws ("" when it throws none).
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.class_name() + ": " + e.message();
  }
  return "";
}

TEST(IniFileTest, LookupFollowsProfileRules) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "orphan=before any section\n"
            "; comment=not a key\n"
            "[Mail]\n"
            "  Subject =  Hello world  \n"
            "subject=second one loses\n"
            "Quoted=\"  spaced  \"\n"
            "Single='x'\n"
            "Unbalanced=\"x\n"
            "Empty=\n"
            "[ mail ]\n"
            "Other=in the second Mail section\n"
            "[HTTP]\n"
            "Server=h\n");
  const IniFile ini(dir / "a.ini");
  EXPECT_TRUE(ini.existed());
  struct {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"MAIL", "SUBJECT", "Hello world"},   // case-insensitive, trimmed, first wins
      {"Mail", "Quoted", "  spaced  "},     // one pair of quotes removed
      {"Mail", "Single", "x"},
      {"Mail", "Unbalanced", "\"x"},
      {"Mail", "Empty", ""},                // present and empty: not the default
      {"Mail", "Other", "default"},         // only the first matching section counts
      {"Mail", "; comment", "default"},
      {"Mail", "Server", "default"},        // keys do not leak across sections
      {"", "orphan", "default"},
      {"http", "server", "h"},
      {"FTP", "Server", "default"},
  };
  for (const auto& row : cases)
    EXPECT_EQ(ini.ReadString(row.section, row.key, "default"), row.expected)
        << row.section << "/" << row.key;
}

TEST(IniFileTest, IntegersAndBooleans) {
  struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"5", true, 5},           {"-3", true, -3},          {"+7", true, 7},
      {"0x10", true, 16},       {"0X1f", true, 31},        {"0xFFFFFFFF", true, -1},
      {"2147483647", true, 2147483647},                    {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0}, {"0x100000000", false, 0}, {"", false, 0},
      {"abc", false, 0},        {"12abc", false, 0},       {"0x", false, 0},
      {"-", false, 0},          {"1 2", false, 0},         {"$10", false, 0},
  };
  for (const auto& row : cases) {
    int32_t v = 12345;
    EXPECT_EQ(ParseProfileInteger(row.text, v), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(v, row.value) << row.text;
    }
  }

  TempDir dir;
  WriteFile(dir / "i.ini", "[S]\nn= 42 \nbad=abc\nempty=\nt=2\nf=0\nq=\"0x20\"\n");
  const IniFile ini(dir / "i.ini");
  EXPECT_EQ(ini.ReadInteger("s", "n", 7), 42);
  EXPECT_EQ(ini.ReadInteger("s", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "missing", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "q", 7), 32);
  EXPECT_TRUE(ini.ReadBool("s", "t", false));
  EXPECT_FALSE(ini.ReadBool("s", "f", true));
  EXPECT_TRUE(ini.ReadBool("s", "bad", true));
  EXPECT_FALSE(ini.ReadBool("s", "missing", false));
}

TEST(IniFileTest, NewFileKeepsWriteOrderAndIsPrivate) {
  TempDir dir;
  IniFile ini(dir / "new.ini");
  EXPECT_FALSE(ini.existed());
  ini.WriteInteger("A", "x", 5);
  ini.WriteString("A", "y", "");
  ini.WriteString("B", "z", "zz");
  ini.WriteBool("a", "w", true);  // goes to section A, after y
  ini.WriteString("B", "Z", "line\nbreak");  // replaces z, kept on one line
  ini.Save();
  EXPECT_EQ(ReadFile(dir / "new.ini"), "[A]\nx=5\ny=\nw=1\n[B]\nz=line break\n");
  EXPECT_EQ(ModeOf(dir / "new.ini"), 0600u);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"new.ini"});
}

TEST(IniFileTest, RewriteKeepsOtherLinesByteForByte) {
  TempDir dir;
  // CR LF line ends, comments, blank lines, a Latin-1 comment (not UTF-8),
  // an unknown section and a last line without a line end.
  WriteFile(dir / "s.ini",
            "; caf\xE9 settings\r\n"
            "[Ostrevane]\r\n"
            "Log_Dir = /var/log/x\r\n"
            "thread_count=5\r\n"
            "\r\n"
            "; about mail\r\n"
            "[Mail]\r\n"
            "Password=00\r\n"
            "Login=me\r\n"
            "[Custom]\r\n"
            "keep=me");
  IniFile ini(dir / "s.ini");
  EXPECT_EQ(ini.encoding(), IniEncoding::kAnsi);
  EXPECT_EQ(ini.ReadString("ostrevane", "log_dir", ""), "/var/log/x");
  ini.WriteString("OSTREVANE", "LOG_DIR", "logs");     // name spelling stays
  ini.WriteString("Ostrevane", "ansi_codepage", "x");  // after the last key, not the comment
  ini.DeleteKey("mail", "password");
  ini.DeleteKey("mail", "absent");
  ini.WriteString("Custom", "more", "1");
  ini.Save();
  EXPECT_EQ(ReadFile(dir / "s.ini"),
            "; caf\xE9 settings\r\n"
            "[Ostrevane]\r\n"
            "Log_Dir=logs\r\n"
            "thread_count=5\r\n"
            "ansi_codepage=x\r\n"
            "\r\n"
            "; about mail\r\n"
            "[Mail]\r\n"
            "Login=me\r\n"
            "[Custom]\r\n"
            "keep=me\r\n"
            "more=1\r\n");
}

TEST(IniFileTest, Utf16LeFileIsReadAndRewrittenAsUtf16Le) {
  TempDir dir;
  const std::string before = "\xFF\xFE" + Utf16Le("[Mail]\r\nSubject=Отчёт ☺\r\n; note\r\n");
  WriteFile(dir / "w.ini", before);
  IniFile ini(dir / "w.ini");
  EXPECT_EQ(ini.encoding(), IniEncoding::kUtf16Le);
  EXPECT_EQ(ini.ReadString("Mail", "Subject", ""), "Отчёт ☺");
  ini.WriteString("Mail", "Password", "AB");
  ini.WriteString("FTP", "Server", "f");
  ini.Save();
  EXPECT_EQ(ReadFile(dir / "w.ini"),
            "\xFF\xFE" + Utf16Le("[Mail]\r\nSubject=Отчёт ☺\r\nPassword=AB\r\n; note\r\n"
                                 "[FTP]\r\nServer=f\r\n"));
}

TEST(IniFileTest, Utf16FileWithAnOddByteIsAnErrorAndStaysUnchanged) {
  TempDir dir;
  const std::string before = "\xFF\xFE" + Utf16Le("[Mail]\r\nSubject=s\r\n") + "x";
  WriteFile(dir / "odd.ini", before);
  EXPECT_EQ(ErrorOf([&] { IniFile ini(dir / "odd.ini"); }),
            "Exception: The file " + (dir / "odd.ini") +
                " is UTF-16 but holds an odd number of bytes; it was left unchanged");
  EXPECT_EQ(ReadFile(dir / "odd.ini"), before);
}

TEST(IniFileTest, ValuesAreCutAt2047Characters) {
  const std::string face = "\xF0\x9F\x98\x80";  // two UTF-16 code units
  struct {
    std::string value;
    std::string expected;
  } cases[] = {
      {std::string(2047, 'a'), std::string(2047, 'a')},
      {std::string(3000, 'a'), std::string(2047, 'a')},
      {std::string(2046, 'a') + face, std::string(2046, 'a')},  // no half pair
      {std::string(2045, 'a') + face + "b", std::string(2045, 'a') + face},
      {std::string(2047, 'a') + "\xD0\xB6", std::string(2047, 'a')},
  };
  TempDir dir;
  for (const auto& row : cases) {
    WriteFile(dir / "c.ini", "[S]\nk=" + row.value + "\n");
    EXPECT_EQ(IniFile(dir / "c.ini").ReadString("S", "k", ""), row.expected) << row.value.size();
  }
}

TEST(IniFileTest, SaveFailuresLeaveTheFileAlone) {
  TempDir dir;
  const std::string original = "[S]\nk=1\n";

  // An existing file keeps its mode.
  WriteFile(dir / "m.ini", original);
  ::chmod((dir / "m.ini").c_str(), 0640);
  IniFile m(dir / "m.ini");
  m.WriteString("S", "k", "2");
  m.Save();
  EXPECT_EQ(ModeOf(dir / "m.ini"), 0640u);

  // A read-only file is not replaced, even by a privileged process.
  WriteFile(dir / "ro.ini", original);
  ::chmod((dir / "ro.ini").c_str(), 0444);
  IniFile ro(dir / "ro.ini");
  ro.WriteString("S", "k", "2");
  EXPECT_EQ(ErrorOf([&] { ro.Save(); }),
            "Exception: Unable to write to " + (dir / "ro.ini") + ": Permission denied");
  EXPECT_EQ(ReadFile(dir / "ro.ini"), original);

  // A missing folder, and a folder nobody may create files in.
  for (const std::string& path : {dir / "missing/x.ini", std::string("/proc/x.ini")}) {
    IniFile ini(path);
    ini.WriteString("S", "k", "1");
    EXPECT_EQ(ErrorOf([&] { ini.Save(); }),
              "Exception: Unable to write to " + path + ": No such file or directory");
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"m.ini", "ro.ini"}));
}

TEST(IniFileTest, SymbolicLinkKeepsPointingAtTheRewrittenFile) {
  TempDir dir;
  WriteFile(dir / "real/s.ini", "[S]\nk=1\n");
  std::filesystem::create_symlink(dir / "real/s.ini", dir / "link.ini");
  IniFile ini(dir / "link.ini");
  ini.WriteString("S", "k", "2");
  ini.Save();
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real/s.ini"), "[S]\nk=2\n");
}

TEST(IniFileTest, UnreadableFileIsAnError) {
  TempDir dir;
  std::filesystem::create_directory(dir / "dir.ini");
  EXPECT_EQ(ErrorOf([&] { IniFile ini(dir / "dir.ini"); }),
            "Exception: Unable to read " + (dir / "dir.ini") + ": Is a directory");
  if (::geteuid() != 0) {
    WriteFile(dir / "locked.ini", "[S]\n");
    ::chmod((dir / "locked.ini").c_str(), 0);
    EXPECT_EQ(ErrorOf([&] { IniFile ini(dir / "locked.ini"); }),
              "Exception: Unable to read " + (dir / "locked.ini") + ": Permission denied");
  }
}

}  // namespace
}  // namespace ostrevane
