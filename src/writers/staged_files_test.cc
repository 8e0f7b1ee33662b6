// What the writers leave when they fail halfway: no file under a final
// name, no temporary file, and an older file of that name as it was.
#include "writers/staged_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>

#include "common/error.h"
#include "common/path.h"
#include "testing/small_tmpfs.h"
#include "testing/writer_fixture.h"
#include "writers/csv_writer.h"
#include "writers/xml_writer.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

enum class Writer { kCsv, kXml };

struct WholeFilesTest : testing::WriterFixture {
  const FormatSettings formats = DefaultFormatSettings();

  // Runs one writer into `tmpl`; returns its error message, "" for none.
  std::string Write(Writer writer, const std::string& tmpl) {
    try {
      if (writer == Writer::kCsv) {
        job.csv_path = tmpl;
        WriteCsvFiles(job, *query, formats, " ");
      } else {
        job.xml_path = tmpl;
        // A small run buffer: the records also pass through its file.
        WriteXmlFile(job, *query, formats, XmlWriterOptions{nullptr, 4096});
      }
    } catch (const Error& e) {
      return e.message();
    }
    return "";
  }

  // The files in `folder` and below, relative to it.
  std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
      if (!e.is_directory()) files.insert(e.path().lexically_relative(folder).string());
    return files;
  }
};

// Rows of REGION A, then B, with a long TEXT and a null V, then a B row
// whose V is `last`.
std::vector<std::vector<Value>> RowsEndingWith(const Value& last) {
  std::vector<std::vector<Value>> rows;
  const Value text = Value::Text(std::string(400, 't'));  // the writers flush midway
  for (int i = 0; i < 3000; ++i)
    rows.push_back({Value::Text(i < 1500 ? "A" : "B"), text, Value::Null()});
  rows.push_back({Value::Text("B"), text, last});
  return rows;
}

TEST_F(WholeFilesTest, ValueThatCannotBeWrittenInALateRowLeavesNoFile) {
  Value not_a_date = Value::Text("not a date");
  struct {
    Writer writer;
    FieldType type;  // of V
    Value bad;
    const char* extension;
    const char* error;
  } cases[] = {
      {Writer::kCsv, FieldType::kBlob, testing::Bytes("\x01"), "csv",
       "Could not convert variant of type (Array Byte) into type (String)"},
      {Writer::kXml, FieldType::kDateTime, not_a_date, "xml",
       "Could not convert variant of type (String) into type (Date)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    Open({{"REGION", FieldType::kString, 1}, {"TEXT", FieldType::kString, 400}, {"V", c.type, 0}},
         RowsEndingWith(c.bad));
    const std::string a = "A." + std::string(c.extension), b = "B." + std::string(c.extension);
    std::filesystem::remove_all(dir / "out");
    std::filesystem::create_directory(dir / "out");
    WriteFile(dir / ("out/" + a), "an older A");
    EXPECT_EQ(Write(c.writer, dir / "out/:REGION." + c.extension),
              "Cannot write file \"" + dir / ("out/" + b) + "\". " + c.error);
    EXPECT_EQ(ReadFile(dir / ("out/" + a)), "an older A");
    EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{a});
  }
}

TEST_F(WholeFilesTest, FullDiskLeavesNoFile) {
  testing::SmallTmpfs full(dir / "full", "64k");
  if (!full.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::set<std::string> older = {"out.csv", "out.xml"};
  for (const std::string& name : older) WriteFile(dir / "full/" + name, "an older file");
  for (Writer writer : {Writer::kCsv, Writer::kXml}) {
    const std::string name = dir / (writer == Writer::kCsv ? "full/out.csv" : "full/out.xml");
    SCOPED_TRACE(name);
    Open({{"REGION", FieldType::kString, 1},
          {"TEXT", FieldType::kString, 400},
          {"V", FieldType::kString, 1}},
         RowsEndingWith(Value::Null()));  // 1.2 MB for 64 KiB
    const std::string error = Write(writer, name);
    EXPECT_NE(error.find("\"" + name + "\""), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(name), "an older file");
    EXPECT_EQ(FilesIn(dir / "full"), older);
  }
}

// Writes `content` as the whole file `index` of `staged`.
void WriteStaged(StagedFiles& staged, size_t index, const std::string& content) {
  std::optional<OutputFile> file;
  staged.Open(index, OutputFile::Mode::kCreate, 16, file);
  file->Write(content);
  file->Close();
}

TEST_F(WholeFilesTest, ARenameThatFailsTakesBackTheFilesRenamedBefore) {
  std::filesystem::create_directory(dir / "out");
  WriteFile(dir / "out/a.csv", "an older a");
  {
    StagedFiles staged(dir / "out/");
    for (const char* name : {"a.csv", "b.csv", "c.csv"})
      WriteStaged(staged, staged.Begin(dir / "out/" + name), std::string("new ") + name);
    // The last name is taken by a folder before the files are renamed.
    std::filesystem::create_directory(dir / "out/c.csv");
    std::vector<WrittenFile> written;
    try {
      staged.CommitAll(&written);
      ADD_FAILURE() << "committed";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Cannot create file \"" + dir / "out/c.csv\". Is a directory");
    }
    EXPECT_TRUE(written.empty());
  }
  EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{"a.csv"});
  EXPECT_EQ(ReadFile(dir / "out/a.csv"), "an older a");
}

TEST_F(WholeFilesTest, FoldersMadeForACallThatFailsGoWithIt) {
  {
    StagedFiles staged(dir / "out/");
    WriteStaged(staged, staged.Begin(dir / "out/n1/n2/a.csv"), "a");
    // A level the file system refuses, after two it made.
    const std::string refused = dir / "out/n1/m1/m2/" + std::string(300, 'm') + "/b.csv";
    try {
      staged.Begin(refused);
      ADD_FAILURE() << "begun";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Cannot create file \"" + refused + "\". File name too long");
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "out/n1/m1/m2"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

}  // namespace
}  // namespace ostrevane
