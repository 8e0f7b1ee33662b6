#include "writers/csv_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "testing/writer_fixture.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

using Rows = std::vector<std::vector<Value>>;

struct CsvTest : testing::WriterFixture {
  const FormatSettings formats = DefaultFormatSettings();
  void Write() { WriteCsvFiles(job, *query, formats, " "); }
  std::string Name(const std::string& n) { return dir / n; }
};

std::string Utf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST_F(CsvTest, TwoRecordsInEachEncoding) {
  struct {
    uint8_t csvcp;
    std::string bytes;
  } cases[] = {
      {1, "\xFF\xFE" + Utf16("1;\"a;b\"\r\n2;x")},
      {0, "1;\"a;b\"\r\n2;x"},
      {2, "1;\"a;b\"\r\n2;x"},
  };
  for (const auto& c : cases) {
    Open({{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}},
         {{Value::Integer(1), Value::Text("a;b")}, {Value::Integer(2), Value::Text("x")}});
    job.csv_path = Name("out.csv");
    job.csv_code_page = c.csvcp;
    job.written_files = {"stale entry"};
    Write();
    EXPECT_EQ(ReadFile(job.csv_path), c.bytes) << int(c.csvcp);
    EXPECT_EQ(job.written_files, std::vector<std::string>{job.csv_path});
    EXPECT_TRUE(query->Eof());
  }
}

// An empty result writes nothing, or under -ifempty:deliver one file without
// rows; a name that takes a field's value has nothing to take it from.
TEST_F(CsvTest, EmptyResultWritesOneEmptyFileOnlyWhenDelivered) {
  struct {
    IfEmpty if_empty;
    uint8_t csvcp;
    std::string tmpl;
    const char* bytes;  // nullptr: no file
    const char* error;
    bool header = false;
  } cases[] = {
      {IfEmpty::kSkip, 0, "out.csv", nullptr, nullptr},
      {IfEmpty::kDeliver, 0, "out.csv", "", nullptr},
      {IfEmpty::kDeliver, 1, "out.csv", "\xFF\xFE", nullptr},
      {IfEmpty::kDeliver, 0, "out_?DATE.csv", "", nullptr},
      {IfEmpty::kDeliver, 0, "out.csv", "ID;NAME\r\n", nullptr, true},
      {IfEmpty::kDeliver, 0, "out_:NAME.csv", nullptr,
       "-ifempty:deliver: the file name template \"@/out_:NAME.csv\" takes a field's value, and "
       "an empty result has none; give the file a name without field macros"},
  };
  for (const auto& row : cases) {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    Open({{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}}, {});
    job.csv_path = Name(row.tmpl);
    job.csv_code_page = row.csvcp;
    job.if_empty = row.if_empty;
    job.csv_header = row.header ? Switch::kOn : Switch::kOff;
    try {
      Write();
      EXPECT_EQ(row.error, nullptr) << row.tmpl;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), ReplaceAll(row.error ? row.error : "", "@/", dir.path() + "/"));
    }
    const std::string name = ReplaceAll(Name(row.tmpl), "?DATE", "20151008");
    EXPECT_EQ(std::filesystem::exists(name), row.bytes != nullptr) << row.tmpl;
    if (row.bytes) {
      EXPECT_EQ(ReadFile(name), row.bytes) << row.tmpl;
      EXPECT_EQ(job.written_files, std::vector<std::string>{name});
    } else {
      EXPECT_TRUE(job.written_files.empty());
    }
  }
}

// A separator or quote outside ASCII is written whole, as the file's
// encoding spells it, and a value holding it is quoted.
TEST_F(CsvTest, NonAsciiSeparatorAndQuoteAreWrittenWhole) {
  const std::string section = "\xC2\xA7", euro = "\xE2\x82\xAC", snowman = "\xE2\x98\x83";
  const std::string moon = "\xE6\x9C\x88";  // not in Windows-1252
  const std::string face = "\xF0\x9F\x98\x80";  // outside the BMP: two UTF-16 units
  struct {
    const char* code_page;  // the 8-bit code page
    uint8_t csvcp;
    std::string separator, quote, value;
    std::string bytes;
  } cases[] = {
      // UTF-8 files: the character's UTF-8 bytes.
      {"UTF-8", 0, section, "\"", "a" + section + "b",
       "1" + section + "\"a" + section + "b\"\r\n2" + section + "x"},
      {"UTF-8", 0, ";", section, "a;" + section + "b",
       "1;" + section + "a;" + section + section + "b" + section + "\r\n2;x"},
      // UTF-16 files: the character's code units.
      {"UTF-8", 1, section, "\"", "a" + section + "b",
       "\xFF\xFE" + Utf16("1") + std::string("\xA7\0", 2) + Utf16("\"a") +
           std::string("\xA7\0", 2) + Utf16("b\"\r\n2") + std::string("\xA7\0", 2) + Utf16("x")},
      {"UTF-8", 1, face, "\"", "ab",
       "\xFF\xFE" + Utf16("1") + std::string("\x3D\xD8\x00\xDE", 4) + Utf16("ab\r\n2") +
           std::string("\x3D\xD8\x00\xDE", 4) + Utf16("x")},
      {"CP1252", 1, ";", euro, "a" + euro,
       "\xFF\xFE" + Utf16("1;") + std::string("\xAC\x20", 2) + Utf16("a") +
           std::string("\xAC\x20\xAC\x20\xAC\x20", 6) + Utf16("\r\n2;x")},
      // Another 8-bit code page: its byte, or "?" when it has none, and then
      // a value holding "?" is the one quoted.
      {"CP1252", 0, euro, "\"", "a" + euro + "b",
       "1\x80\"a\x80"
       "b\"\r\n2\x80x"},
      {"CP1252", 0, snowman, "\"", "a?b", "1?\"a?b\"\r\n2?x"},
      // The quoting is decided on the text as written: a character the code
      // page lacks is "?" too.
      {"CP1252", 0, snowman, "\"", moon + "x", "1?\"?x\"\r\n2?x"},
      {"CP1252", 0, ";", snowman, moon + "x", "1;???x?\r\n2;x"},
      {"CP1252", 0, "?", "\"", "\xC3\xA9" + moon, "1?\"\xE9?\"\r\n2?x"},
      {"CP1252", 2, ";", euro, "a;b",
       "1;\x80"
       "a;b\x80\r\n2;x"},
  };
  for (const auto& c : cases) {
    testing::CodePageGuard code_page(c.code_page);
    Open({{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}},
         {{Value::Integer(1), Value::Text(c.value)}, {Value::Integer(2), Value::Text("x")}});
    job.csv_path = Name("out.csv");
    job.csv_code_page = c.csvcp;
    job.csv_separator = c.separator;
    job.csv_quote = c.quote;
    Write();
    EXPECT_EQ(ReadFile(job.csv_path), c.bytes)
        << c.code_page << " " << int(c.csvcp) << " " << c.separator << " " << c.quote;
  }
}

TEST_F(CsvTest, OneRecordHasNoLineEnd) {
  Open({{"ID", FieldType::kInteger, 0}}, {{Value::Integer(5)}});
  job.csv_path = Name("one.csv");
  WriteFile(job.csv_path, "an older and longer file");
  Write();
  EXPECT_EQ(ReadFile(job.csv_path), "5");
}

// With one column an empty value would be an empty line, which readers
// skip or take for no value at all; it is written as two quotes. Without a
// quote character it stays an empty line.
TEST_F(CsvTest, OneColumnEmptyValuesAreTwoQuotes) {
  struct {
    const char* code_page;
    uint8_t csvcp;
    std::string quote;
    std::string bytes;
  } cases[] = {
      {"UTF-8", 0, "\"", "a\r\n\"\"\r\nb\r\n\"\"\r\n\"\"\r\n\"\"\"\""},
      {"UTF-8", 1, "\"", "\xFF\xFE" + Utf16("a\r\n\"\"\r\nb\r\n\"\"\r\n\"\"\r\n\"\"\"\"")},
      {"CP1252", 0, "\"", "a\r\n\"\"\r\nb\r\n\"\"\r\n\"\"\r\n\"\"\"\""},
      {"UTF-8", 0, "\xC2\xA7", "a\r\n\xC2\xA7\xC2\xA7\r\nb\r\n\xC2\xA7\xC2\xA7\r\n\xC2\xA7\xC2\xA7\r\n\""},
      {"UTF-8", 0, "", "a\r\n\r\nb\r\n\r\n\r\n\""},
  };
  for (const auto& c : cases) {
    testing::CodePageGuard code_page(c.code_page);
    Open({{"T", FieldType::kString, 10}},
         {{Value::Text("a")}, {Value::Null()}, {Value::Text("b")}, {Value::Text("")},
          {Value::Null()}, {Value::Text("\"")}});
    job.csv_path = Name("one.csv");
    job.csv_code_page = c.csvcp;
    job.csv_quote = c.quote;
    Write();
    EXPECT_EQ(ReadFile(job.csv_path), c.bytes) << c.code_page << " " << int(c.csvcp) << " " << c.quote;
  }
  // A NULL number alone, and a last empty value of a file that a later run
  // continues.
  Open({{"N", FieldType::kInteger, 0}, {"R", FieldType::kString, 1}},
       {{Value::Integer(1), Value::Text("A")}, {Value::Null(), Value::Text("A")},
        {Value::Integer(2), Value::Text("B")}});
  job.csv_path = Name(":R.csv");
  job.csv_quote = "\"";
  job.csv_fields = {{"N", ""}};
  Write();
  EXPECT_EQ(ReadFile(Name("A.csv")), "1\r\n\"\"\r\n");
  EXPECT_EQ(ReadFile(Name("B.csv")), "2");
}

TEST_F(CsvTest, FieldMacroSplitsRunsIntoFilesAndFoldersAreMade) {
  Open({{"ID", FieldType::kInteger, 0}, {"REGION", FieldType::kString, 10}},
       {{Value::Integer(1), Value::Text("A")},
        {Value::Integer(2), Value::Text("A")},
        {Value::Integer(3), Value::Text("B")}});
  job.csv_path = dir.path() + "\\out/:region\\list.csv";
  Write();
  const std::string a = dir.path() + "\\out/A\\list.csv", b = dir.path() + "\\out/B\\list.csv";
  EXPECT_EQ(job.written_files, (std::vector<std::string>{a, b}));
  EXPECT_EQ(ReadFile(NormalizePath(a)), "1;A\r\n2;A\r\n");
  EXPECT_EQ(ReadFile(NormalizePath(b)), "3;B");
}

// Records not grouped by the name: a name that comes back continues its
// file, listed once, with one byte-order mark and one header line.
TEST_F(CsvTest, NameThatComesBackExtendsItsFile) {
  for (uint8_t csvcp : {0, 1})
    for (Switch header : {Switch::kOff, Switch::kOn}) {
      Open({{"ID", FieldType::kInteger, 0}, {"REGION", FieldType::kString, 10}},
           {{Value::Integer(1), Value::Text("A")},
            {Value::Integer(2), Value::Text("B")},
            {Value::Integer(3), Value::Text("A")},
            {Value::Integer(4), Value::Text("A")}});
      job.csv_code_page = csvcp;
      job.csv_header = header;
      job.csv_path = Name(":REGION.csv");
      Write();
      EXPECT_EQ(job.written_files, (std::vector<std::string>{Name("A.csv"), Name("B.csv")}));
      const std::string bom = csvcp == 1 ? "\xFF\xFE" : "";
      const std::string head = header == Switch::kOn ? "ID;REGION\r\n" : "";
      auto enc = [&](std::string_view s) { return csvcp == 1 ? Utf16(s) : std::string(s); };
      EXPECT_EQ(ReadFile(Name("A.csv")), bom + enc(head + "1;A\r\n3;A\r\n4;A")) << int(csvcp);
      EXPECT_EQ(ReadFile(Name("B.csv")), bom + enc(head + "2;B\r\n")) << int(csvcp);
    }
}

// The header line is a row of the field names: separated, quoted and
// encoded as text values are, in the order of -fields when given. A file
// of no record would hold the same start.
TEST_F(CsvTest, HeaderLineIsARowOfTheNames) {
  const std::string moon = "\xE6\x9C\x88";  // not in Windows-1252
  struct {
    const char* label;
    const char* code_page;
    uint8_t csvcp;
    std::vector<std::string> names;  // integer fields, each 1 in the one record
    std::vector<NameValue> fields;   // -fields
    std::string head;                // the file's start
    std::string row;                 // the record, after a line end
  } cases[] = {
      {"quoted as values", "UTF-8", 0, {"ID", "a;b", "say \"hi\"", "", "line\nbreak"}, {},
       "ID;\"a;b\";\"say \"\"hi\"\"\";;\"line\nbreak\"", "1;1;1;1;1"},
      {"UTF-16", "UTF-8", 1, {"ID", "\xC3\xA9"}, {},
       "\xFF\xFE" + Utf16("ID;") + std::string("\xE9\0", 2), "1;1"},
      {"8-bit code page", "CP1252", 0, {"caf\xC3\xA9", moon + ";"}, {}, "caf\xE9;\"?;\"", "1;1"},
      {"one empty name", "UTF-8", 0, {""}, {}, "\"\"", "1"},
      {"-fields order, a field twice", "UTF-8", 0, {"A", "B"}, {{"b", ""}, {"A", ""}, {"B", ""}},
       "B;A;B", "1;1;1"},
  };
  for (const auto& c : cases) {
    testing::CodePageGuard code_page(c.code_page);
    std::vector<FieldDef> defs;
    std::vector<Value> row;
    for (const std::string& name : c.names) {
      defs.push_back({name, FieldType::kInteger, 0});
      row.push_back(Value::Integer(1));
    }
    Open(defs, {row});
    job.csv_code_page = c.csvcp;
    job.csv_header = Switch::kOn;
    job.csv_fields = c.fields;
    job.csv_path = Name("h.csv");
    Write();
    const std::string rest = "\r\n" + c.row;
    EXPECT_EQ(ReadFile(job.csv_path), c.head + (c.csvcp == 1 ? Utf16(rest) : rest)) << c.label;
    Open(defs, {});
    EXPECT_EQ(CsvFileStart(job, *query, formats, " "), c.head) << c.label;
  }
}

TEST_F(CsvTest, ColumnListFromFields) {
  Value when;
  when.SetDateTime(EncodeDateTime(2015, 10, 8, 14, 3, 5));
  const std::vector<FieldDef> fields = {{"ID", FieldType::kInteger, 0},
                                        {"NAME", FieldType::kString, 10},
                                        {"AT", FieldType::kDateTime, 0}};
  const Rows rows = {{Value::Integer(1), Value::Text("n"), when}};
  struct {
    std::vector<NameValue> fields;
    const char* expected;
  } cases[] = {
      {{}, "1;n;2015-10-08 14:03:05"},
      {{{"name", ""}, {"id", ""}}, "n;1"},
      {{{"at", "dd.mm.yyyy"}, {"AT", ""}, {"at", "hh!h"}}, "08.10.2015;2015-10-08 14:03:05;14h"},
      {{{"missing", ""}, {"ID", ""}}, "1"},
  };
  for (const auto& c : cases) {
    Open(fields, rows);
    job.csv_fields = c.fields;
    job.csv_path = Name("cols.csv");
    Write();
    EXPECT_EQ(ReadFile(job.csv_path), c.expected);
  }
  // No name matches: rows are empty, only the line ends remain.
  Open(fields, {rows[0], rows[0], rows[0]});
  job.csv_fields = {{"nothing", ""}};
  job.csv_code_page = 1;
  Write();
  EXPECT_EQ(ReadFile(job.csv_path), "\xFF\xFE" + Utf16("\r\n\r\n"));
}

TEST_F(CsvTest, HostileValues) {
  const std::string invalid_utf8 = "x\xC3(\xFFy";
  Open({{"T", FieldType::kString, 10}, {"F", FieldType::kFloat, 0}},
       {{Value::Text("say \"hi\""), Value::Null()},
        {Value::Text("line\r\nbreak"), Value::Null()},
        {Value::Text(std::string("nul\0in", 6)), Value::Null()},
        {Value::Text(invalid_utf8), Value::Null()}});
  job.csv_path = Name("h.csv");
  Write();
  EXPECT_EQ(ReadFile(job.csv_path), "\"say \"\"hi\"\"\";\r\n\"line\r\nbreak\";\r\n" +
                                        std::string("nul\0in;\r\n", 9) + invalid_utf8 + ";");
  // In UTF-16 an invalid byte becomes U+FFFD.
  Open({{"T", FieldType::kString, 10}}, {{Value::Text("\xFF")}});
  job.csv_code_page = 1;
  Write();
  EXPECT_EQ(ReadFile(job.csv_path), "\xFF\xFE\xFD\xFF");
}

TEST_F(CsvTest, EightBitCodePageReplacesWhatItCannotHold) {
  testing::CodePageGuard cp1252("CP1252");
  Open({{"T", FieldType::kString, 10}},
       {{Value::Text("\xC3\xA9\xE2\x82\xAC\xE2\x98\x83")}, {Value::Text("plain")}});  // é € ☃
  job.csv_path = Name("cp.csv");
  Write();
  EXPECT_EQ(ReadFile(job.csv_path), "\xE9\x80?\r\nplain");
}

TEST_F(CsvTest, BinaryValuesHaveNoText) {
  Open({{"ID", FieldType::kInteger, 0}, {"B", FieldType::kBlob, 0}},
       {{Value::Integer(1), Value::Null()}, {Value::Integer(2), testing::Bytes("\x01")}});
  job.csv_path = Name("bin.csv");
  try {
    Write();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEConvertError);
    EXPECT_EQ(e.message(),
              "Cannot write file \"" + job.csv_path +
                  "\". Could not convert variant of type (Array Byte) into type (String)");
  }
  // The null blob gave an empty cell, but the file is not whole: none.
  EXPECT_FALSE(FileExists(job.csv_path));
}

TEST_F(CsvTest, FolderThatCannotBeMadeGivesTheCreateError) {
  WriteFile(Name("blocker"), "a file where a folder should be");
  Open({{"ID", FieldType::kInteger, 0}}, {{Value::Integer(1)}});
  job.csv_path = Name("blocker\\sub\\x.csv");
  try {
    Write();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEFCreateError);
    EXPECT_EQ(e.message(),
              "Cannot create file \"" + dir.path() + "/blocker/sub/x.csv\". Not a directory");
  }
  EXPECT_EQ(job.written_files, std::vector<std::string>{job.csv_path});  // listed before creation
}

}  // namespace
}  // namespace ostrevane
