// What a run leaves in its output folders, end to end on real file systems:
// every spelling of one path is one file, listed once with the checksum of
// its bytes; values never lead above the template's folder nor through a
// symbolic link below it; and a job that fails leaves none of its files,
// nor the folders it made, whatever step failed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/json_reader.h"
#include "common/sha256.h"
#include "testing/run_program.h"
#include "testing/small_tmpfs.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
  std::string sql = "'";
  for (char c : text) sql += c == '\'' ? std::string("''") : std::string(1, c);
  return sql + "'";
}

// A result of one row per entry, in this order: the field n holds the
// name; the field v (when `value_bytes` is given) that many "v".
struct Row {
  std::string name;
  size_t value_bytes = 0;
};
std::string RowsSql(const std::vector<Row>& rows, bool with_value) {
  std::string sql = "SELECT n" + std::string(with_value ? ", v" : "") + " FROM (";
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string value =
        rows[i].value_bytes == 0
            ? "''"
            : "replace(hex(zeroblob(" + std::to_string(rows[i].value_bytes) + ")), '00', 'v')";
    sql += (i == 0 ? "SELECT " : " UNION ALL SELECT ") + std::to_string(i) + " AS o, " +
           Quoted(rows[i].name) + " AS n, " + value + " AS v";
  }
  return sql + ") ORDER BY o";
}
std::string NamesSql(const std::vector<std::string>& names) {
  std::vector<Row> rows;
  for (const std::string& name : names) rows.push_back({name});
  return RowsSql(rows, false);
}

// Reads the FIFO `path` that the program writes into: waits (up to 30 s)
// for its first byte, calls `meanwhile` while the program is held writing
// (it has more to write than the FIFO holds), then reads to the end.
// False when no byte came.
bool ReadFifo(const std::string& path, const std::function<void()>& meanwhile) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  pollfd ready{fd, POLLIN, 0};
  char buffer[65536];
  const bool got = ::poll(&ready, 1, 30000) == 1 && ::read(fd, buffer, 1) == 1;
  if (got) {
    meanwhile();
    ::fcntl(fd, F_SETFL, 0);
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
  }
  ::close(fd);
  return got;
}

// Waits up to a minute for the program `pid` to end; kills it after that.
void WaitFor(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 600; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  ADD_FAILURE() << "the program did not end";
}

class OutputFilesRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateSqliteDatabase(dir / "t.db", "CREATE TABLE unused (x INTEGER)");
    testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
  }

  // Writes `sql` into the file `name` and returns the job's source options.
  std::string Source(const std::string& name, const std::string& sql) {
    WriteFile(dir / name, sql);
    return "-clear -udl:t.udl -csvcp:0 -sql:" + name;
  }

  testing::ProgramResult RunList(const std::string& list) {
    WriteFile(dir / "jobs.txt", list);
    return testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  }

  // RESULT.json's jobs, in list order.
  std::vector<JsonValue> Jobs() { return testing::RunReportJobs(dir / "log"); }
  static std::string Text(const JsonValue& job, const char* member) {
    const JsonValue* value = job.Find(member);
    return value ? value->text : "(none)";
  }

  // Every entry in the folders `roots` and below (folders with a final
  // "/"), relative to the test's folder.
  std::set<std::string> Entries(std::initializer_list<const char*> roots) {
    std::set<std::string> entries;
    for (const char* root : roots) {
      std::error_code ec;
      for (fs::recursive_directory_iterator it(dir / root, ec), end; !ec && it != end;
           it.increment(ec)) {
        std::string name = fs::path(it->path()).lexically_relative(dir.path()).string();
        if (it->is_directory() && !it->is_symlink()) name += '/';
        entries.insert(name);
      }
    }
    return entries;
  }

  TempDir dir;
};

TEST_F(OutputFilesRunTest, EverySpellingOfAPathExtendsOneFileListedOnce) {
  struct {
    std::vector<std::string> names;
    std::map<std::string, std::string> csv;  // by the value that first named it
    std::vector<std::string> listed;         // in the order written
  } cases[] = {
      {{"x", "x", "./x"}, {{"x", "x\r\nx\r\n./x"}}, {"x"}},
      {{"a/b", "a//b", "a/./b", "./a/b"}, {{"a/b", "a/b\r\na//b\r\na/./b\r\n./a/b"}}, {"a/b"}},
      {{"x", "a/x", ".//x"}, {{"x", "x\r\n.//x"}, {"a/x", "a/x\r\n"}}, {"x", "a/x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.front() + ", " + c.names.back());
    fs::remove_all(dir / "out");
    fs::remove_all(dir / "xout");
    const auto r =
        RunList(Source("rows.sql", NamesSql(c.names)) + " -tocsv:out/:n.csv -toxml:xout/:n.xml\n");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    std::set<std::string> files;
    for (const auto& [name, content] : c.csv) {
      EXPECT_EQ(ReadFile(dir / "out/" + name + ".csv"), content) << name;
      files.insert("out/" + name + ".csv");
      files.insert("xout/" + name + ".xml");
    }
    std::set<std::string> present;
    for (const std::string& entry : Entries({"out", "xout"}))
      if (!entry.ends_with('/')) present.insert(entry);
    EXPECT_EQ(present, files);

    // Listed once each, under the first spelling, with the bytes there.
    std::vector<std::string> expected;
    for (const std::string& name : c.listed) expected.push_back("out/" + name + ".csv");
    for (const std::string& name : c.listed) expected.push_back("xout/" + name + ".xml");
    const std::vector<JsonValue> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    std::vector<std::string> listed;
    for (const JsonValue& file : jobs[0].Find("files")->items) {
      const std::string path = Text(file, "path");
      listed.push_back(path);
      const std::string bytes = ReadFile(dir / path);
      EXPECT_EQ(Text(file, "bytes"), std::to_string(bytes.size())) << path;
      EXPECT_EQ(Text(file, "sha256"), Sha256Hex(bytes)) << path;
    }
    EXPECT_EQ(listed, expected);
  }
}

TEST_F(OutputFilesRunTest, AValueCannotLetTheTemplatesDotDotClimb) {
  struct {
    const char* value;
    const char* written;  // nullptr: the job fails
  } cases[] = {
      {".", nullptr},
      {"", nullptr},
      {"./.", nullptr},
      {"x", "out/sub/g.csv"},
      {"x/y", "out/sub/x/g.csv"},
  };
  std::string list;
  for (size_t i = 0; i < std::size(cases); ++i)
    list += Source("rows" + std::to_string(i) + ".sql", NamesSql({cases[i].value})) +
            " -tocsv:out/sub/:n/../g.csv\n";
  RunList(list);
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), std::size(cases));
  std::set<std::string> written;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.value);
    if (c.written) {
      EXPECT_EQ(Text(jobs[i], "status"), "done");
      EXPECT_EQ(ReadFile(dir / c.written), c.value);
      written.insert(c.written);
    } else {
      EXPECT_EQ(Text(jobs[i], "status"), "failed");
      EXPECT_EQ(Text(jobs[i], "error"),
                "The value of field n cannot be used in a file name: \"" + std::string(c.value) +
                    "\" would let the template's \"..\" climb above \"out/sub/\"");
    }
  }
  std::set<std::string> present;
  for (const std::string& entry : Entries({"out"}))
    if (!entry.ends_with('/')) present.insert(entry);
  EXPECT_EQ(present, written);
}

TEST_F(OutputFilesRunTest, ValuesDoNotLeadThroughSymbolicLinksBelowTheTemplatesFolder) {
  // Links a stranger could plant in the output folder, and one the
  // operator made for the template's own text.
  fs::create_directories(dir / "out/sub");
  fs::create_directories(dir / "elsewhere");
  WriteFile(dir / "elsewhere/f.csv", "old f");
  fs::create_directory_symlink(dir / "elsewhere", dir / "out/sub/etc");
  fs::create_symlink(dir / "elsewhere/f.csv", dir / "out/sub/f.csv");
  fs::create_directory_symlink("out", dir / "linked");
  const std::string below = "; below \"" + dir / "out/sub/\" links are not followed";
  struct {
    const char* tmpl;
    const char* value;
    std::string error;  // "" when the job writes `written`
    const char* written;
  } cases[] = {
      {"out/sub/:n.csv", "etc/X",
       "Cannot create file \"" + dir / "out/sub/etc/X.csv\". \"" + dir / "out/sub/etc\"" +
           " is a symbolic link" + below,
       nullptr},
      {"out/sub/:n/x.csv", "etc",
       "Cannot create file \"" + dir / "out/sub/etc/x.csv\". \"" + dir / "out/sub/etc\"" +
           " is a symbolic link" + below,
       nullptr},
      {"out/sub/:n.csv", "f",
       "Cannot create file \"" + dir / "out/sub/f.csv\". \"" + dir / "out/sub/f.csv\"" +
           " is a symbolic link" + below,
       nullptr},
      // The template's own text is followed, as the operator wrote it.
      {"linked/sub/:n.csv", "ok", "", "out/sub/ok.csv"},
      {"out/sub/etc/:n.csv", "y", "", "elsewhere/y.csv"},
  };
  std::string list;
  for (size_t i = 0; i < std::size(cases); ++i)
    list += Source("rows" + std::to_string(i) + ".sql", NamesSql({cases[i].value})) +
            " -tocsv:" + cases[i].tmpl + "\n";
  RunList(list);
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].tmpl);
    EXPECT_EQ(Text(jobs[i], "status"), cases[i].error.empty() ? "done" : "failed");
    if (!cases[i].error.empty()) {
      EXPECT_EQ(Text(jobs[i], "error"), cases[i].error);
    }
    if (cases[i].written) {
      EXPECT_EQ(ReadFile(dir / cases[i].written), cases[i].value);
    }
  }
  EXPECT_EQ(Entries({"elsewhere", "out"}),
            (std::set<std::string>{"elsewhere/f.csv", "elsewhere/y.csv", "out/sub/", "out/sub/etc",
                                   "out/sub/f.csv", "out/sub/ok.csv"}));
  EXPECT_EQ(ReadFile(dir / "elsewhere/f.csv"), "old f");
}

TEST_F(OutputFilesRunTest, ANameTheFileSystemCannotHoldFailsTheJobBeforeAFileStays) {
  std::string deep;
  for (int i = 0; i < 2500; ++i) deep += "d/";
  struct {
    std::vector<std::string> names;
    std::string error;
  } cases[] = {
      // The folders made for the first file go with the job.
      {{"n1/n2/a.csv", "b.csv", std::string(300, 'x') + ".csv"},
       "The value of field n cannot be used in a file name: \"" + std::string(57, 'x') +
           "...\" would make a name of 304 bytes, more than the 255 that the file system "
           "allows"},
      {{"a.csv", deep + "x.csv"},
       "The value of field n cannot be used in a file name: \"" + deep.substr(0, 57) +
           "...\" would make a path of 5009 bytes, more than the 4095 that the file system "
           "allows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.back().substr(0, 20));
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    WriteFile(dir / "out/b.csv", "an older b");
    RunList(Source("rows.sql", NamesSql(c.names)) + " -tocsv:out/:n -toxml:out/:n.xml\n");
    const std::vector<JsonValue> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(Text(jobs[0], "error"), c.error);
    EXPECT_TRUE(jobs[0].Find("files")->items.empty());
    EXPECT_EQ(Entries({"out"}), std::set<std::string>{"out/b.csv"});
    EXPECT_EQ(ReadFile(dir / "out/b.csv"), "an older b");
  }
}

TEST_F(OutputFilesRunTest, AFolderMadeReadOnlyAfterTheFirstFileLeavesNoFile) {
  // The program runs unprivileged: root may write into a read-only folder.
  std::optional<testing::RunAs> as;
  if (::geteuid() == 0) as = testing::RunAs{65534, 65534};
  fs::create_directories(dir / "out/b");
  ASSERT_EQ(::mkfifo((dir / "out/pipe").c_str(), 0666), 0);
  // The second file goes to a pipe, written in place; its 300 kB hold the
  // program there until the test has made the third file's folder
  // read-only.
  WriteFile(dir / "rows.sql", RowsSql({{"a/1.csv"}, {"pipe", 300000}, {"b/2.csv"}}, true));
  WriteFile(dir / "jobs.txt", "-udl:t.udl -csvcp:0 -sql:rows.sql -tocsv:out/:n\n");
  if (as) {
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
      ASSERT_EQ(::lchown(entry.path().c_str(), as->uid, as->gid), 0);
    ASSERT_EQ(::chown(dir.path().c_str(), as->uid, as->gid), 0);
  }

  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path(), as);
  const bool held = ReadFifo(dir / "out/pipe", [&] { ::chmod((dir / "out/b").c_str(), 0555); });
  WaitFor(pid);
  ASSERT_TRUE(held);
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(Text(jobs[0], "error"),
            "Cannot create file \"" + dir / "out/b/2.csv\". Permission denied");
  EXPECT_EQ(Entries({"out"}), (std::set<std::string>{"out/b/", "out/pipe"}));
}

TEST_F(OutputFilesRunTest, ANameTakenBeforeTheRenameLeavesNoFileOfTheJob) {
  fs::create_directory(dir / "out");
  WriteFile(dir / "out/1.csv", "an older 1");
  ASSERT_EQ(::mkfifo((dir / "pipe.xml").c_str(), 0666), 0);
  // The job's XML goes to a pipe: while the test holds it, its CSV files
  // wait under temporary names, and the second one's name becomes a folder.
  WriteFile(dir / "rows.sql", RowsSql({{"1", 100000}, {"2", 100000}}, true));
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:rows.sql -tocsv:out/:n.csv -toxml:pipe.xml\n");
  const pid_t pid = testing::StartProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  const bool held = ReadFifo(dir / "pipe.xml", [&] { fs::create_directory(dir / "out/2.csv"); });
  WaitFor(pid);
  ASSERT_TRUE(held);
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(Text(jobs[0], "error"), "Cannot create file \"" + dir / "out/2.csv\". Is a directory");
  EXPECT_TRUE(jobs[0].Find("files")->items.empty());
  EXPECT_EQ(Entries({"out"}), (std::set<std::string>{"out/1.csv", "out/2.csv/"}));
  EXPECT_EQ(ReadFile(dir / "out/1.csv"), "an older 1");
}

TEST_F(OutputFilesRunTest, AFullDiskInTheJobsXmlLeavesItsCsvFilesOutToo) {
  testing::SmallTmpfs full(dir / "full", "64k");
  if (!full.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  WriteFile(dir / "full/out.csv", "an older file");
  std::vector<Row> rows;
  for (int i = 0; i < 90; ++i) rows.push_back({std::to_string(i), 400});  // 36 kB of CSV
  RunList(Source("rows.sql", RowsSql(rows, true)) + " -tocsv:full/out.csv -toxml:full/out.xml\n");
  const std::vector<JsonValue> jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(Text(jobs[0], "error"),
            "Stream write error on file \"" + dir / "full/out.xml\". No space left on device");
  EXPECT_EQ(Entries({"full"}), std::set<std::string>{"full/out.csv"});
  EXPECT_EQ(ReadFile(dir / "full/out.csv"), "an older file");
}

}  // namespace
}  // namespace ostrevane
