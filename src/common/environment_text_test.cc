#include "common/environment_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "common/error.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct EnvironmentTextTest : ::testing::Test {
  TempDir dir;
  EnvironmentTextTest() {
    ::setenv("OSTREVANE_TEST_HOST", "db.example.com", 1);
    ::setenv("OSTREVANE_TEST_EMPTY", "", 1);
    ::unsetenv("OSTREVANE_TEST_UNSET");
    WriteFile(dir / "lf", "s3cr;et\n");
    WriteFile(dir / "crlf", "line1\nline2\r\n");
    WriteFile(dir / "two", "x\n\n");
    WriteFile(dir / "none", "plain");
  }
};

TEST_F(EnvironmentTextTest, ReferencesAreReplacedAndTheRestStaysAsWritten) {
  struct {
    std::string text, expanded;
  } cases[] = {
      {"no references, $HOME, $ and {}", "no references, $HOME, $ and {}"},
      {"Data Source=${OSTREVANE_TEST_HOST}:5432", "Data Source=db.example.com:5432"},
      {"${OSTREVANE_TEST_HOST}${OSTREVANE_TEST_EMPTY}|", "db.example.com|"},
      {"Password=${file:" + dir / "lf" + "};x", "Password=s3cr;et;x"},
      // Only one final line end goes; line ends inside stay.
      {"${file:" + dir / "crlf" + "}", "line1\nline2"},
      {"${file:" + dir / "two" + "}", "x\n"},
      {"${file:" + dir / "none" + "}", "plain"},
      {"$${OSTREVANE_TEST_HOST} $$ $${", "${OSTREVANE_TEST_HOST} $$ ${"},
      // A "$" alone stays; the "$${" after it is the literal.
      {"$$${OSTREVANE_TEST_HOST}", "$${OSTREVANE_TEST_HOST}"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(ExpandEnvironment(row.text), row.expanded) << row.text;
    EXPECT_NO_THROW(CheckEnvironmentReferences(row.text)) << row.text;
  }
}

// Every mistake names the variable or the file, never a value.
TEST_F(EnvironmentTextTest, MistakesNameTheReferenceAndNoValue) {
  ::mkfifo((dir / "fifo").c_str(), 0600);
  WriteFile(dir / "big", std::string(kSecretFileLimit + 1, 'x'));
  WriteFile(dir / "nul", std::string("a\0b", 3));
  struct {
    std::string text, message;
  } cases[] = {
      {"Password=${OSTREVANE_TEST_UNSET}",
       "the environment variable OSTREVANE_TEST_UNSET is not set (${OSTREVANE_TEST_UNSET})"},
      {"${file:" + dir / "missing" + "}",
       "${file:" + dir / "missing" + "}: the file cannot be read: No such file or directory"},
      {"${file:" + dir.path() + "}",
       "${file:" + dir.path() + "}: the file cannot be read: it is no regular file"},
      {"${file:" + dir / "fifo" + "}",
       "${file:" + dir / "fifo" + "}: the file cannot be read: it is no regular file"},
      {"${file:" + dir / "big" + "}",
       "${file:" + dir / "big" +
           "}: the file cannot be read: it is larger than 64 KiB, which "
           "no secret is"},
      {"${file:" + dir / "nul" + "}",
       "${file:" + dir / "nul" + "}: the file cannot be read: it holds a NUL byte"},
      {"${file:}", "${file:}: the file cannot be read: no file name is given"},
      {"a ${1X} b",
       "${1X}: no environment variable name (letters, digits and \"_\", not first a digit) and "
       "no file:PATH; write $${ for a literal ${"},
      {"${}",
       "${}: no environment variable name (letters, digits and \"_\", not first a digit) and no "
       "file:PATH; write $${ for a literal ${"},
      {"x=${OSTREVANE_TEST_HOST",
       "\"${\" without its \"}\" in \"${OSTREVANE_TEST_HOST\"; write $${ for a literal ${"},
  };
  for (const auto& row : cases) {
    for (bool check : {false, true}) {
      try {
        if (check)
          CheckEnvironmentReferences(row.text);
        else
          ExpandEnvironment(row.text);
        ADD_FAILURE() << "no error: " << row.text;
      } catch (const Error& e) {
        EXPECT_EQ(e.message(), row.message) << row.text;
        EXPECT_EQ(e.message().find("db.example.com"), std::string::npos);
      }
    }
  }
}

}  // namespace
}  // namespace ostrevane
