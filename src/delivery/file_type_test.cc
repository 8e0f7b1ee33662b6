#include "delivery/file_type.h"

#include <gtest/gtest.h>

#include "common/codepage.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Receivers look a charset up among the registered names: iconv's own names
// for the Windows and DOS code pages are not among them.
TEST(FileTypeTest, CodePagesAreSentUnderTheirRegisteredNames) {
  TempDir dir;
  WriteFile(dir / "a.csv", "id;name\r\n");
  WriteFile(dir / "a.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><x/>");
  Job job;
  struct {
    const char* code_page;  // ansi_codepage as written
    const char* charset;
  } cases[] = {
      {"", "UTF-8"},
      {"utf8", "UTF-8"},
      {"CP1252", "windows-1252"},
      {"windows-1250", "windows-1250"},
      {"CP874", "windows-874"},
      {"CP932", "Shift_JIS"},
      {"SJIS", "Shift_JIS"},
      {"WINDOWS-31J", "Windows-31J"},
      {"CP936", "GBK"},
      {"CP949", "KS_C_5601-1987"},
      {"CP950", "Big5"},
      {"CP437", "IBM437"},
      {"CP850", "IBM850"},
      {"CP866", "IBM866"},
      {"ISO_8859-15:1998", "ISO-8859-15"},
      {"ISO8859-2", "ISO-8859-2"},
      {"iso88591", "ISO-8859-1"},
      {"LATIN1", "ISO-8859-1"},
      {"koi8-r", "KOI8-R"},
      {"EUC-JP", "EUC-JP"},
      {"ARMSCII-8", "ARMSCII-8"},  // no registered name: as written
  };
  for (const auto& row : cases) {
    SetAnsiCodePage(row.code_page);
    EXPECT_EQ(WrittenFileContentType(job, dir / "a.csv"),
              std::string("text/csv; charset=") + row.charset)
        << row.code_page;
    EXPECT_EQ(WrittenFileContentType(job, dir / "a.xml"), "application/xml") << row.code_page;
  }
  SetAnsiCodePage("UTF-8");
  job.csv_code_page = 1;
  EXPECT_EQ(WrittenFileContentType(job, dir / "a.csv"), "text/csv; charset=utf-16");
}

// A compressed file is what it is, whatever it holds; a JSON Lines file is
// known by the writer that wrote it, not by its name.
TEST(FileTypeTest, CompressedAndJsonLinesFiles) {
  TempDir dir;
  WriteFile(dir / "a.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><x/>");
  WriteFile(dir / "a.csv", "{\"not\":\"json\"}");
  WriteFile(dir / "a.txt", "{\"id\":1}\n");
  Job job;
  job.csv_code_page = 0;
  job.json_files = {dir / "a.txt"};
  struct {
    CompressionMethod method;
    std::string file;
    const char* type;
  } cases[] = {
      {CompressionMethod::kNone, dir / "a.txt", "application/jsonl"},
      {CompressionMethod::kNone, dir / "a.csv", "text/csv; charset=UTF-8"},
      {CompressionMethod::kGzip, dir / "a.xml", "application/gzip"},
      {CompressionMethod::kZstd, dir / "a.txt", "application/zstd"},
  };
  for (const auto& c : cases) {
    job.compression = {c.method, 3};
    EXPECT_EQ(WrittenFileContentType(job, c.file), c.type) << c.file;
  }
}

}  // namespace
}  // namespace ostrevane::delivery
