// Standard readers get every value back: Python's csv module reads the CSV
// files (8-bit and UTF-16) and xml.etree the XML files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "common/codepage.h"
#include "common/sha256.h"
#include "testing/writer_fixture.h"
#include "writers/csv_writer.h"
#include "writers/xml_writer.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

const char kReader[] = R"PY(
import csv, sys, xml.etree.ElementTree as ET

def cell(h):
    return None if h == '~' else ('' if h == '.' else bytes.fromhex(h).decode('utf-8'))

def expected(path):
    with open(path, encoding='ascii') as f:
        return [[cell(h) for h in line.split()] for line in f if line.strip()]

folder = sys.argv[1]
names = ['ID', 'NAME', 'PRICE', 'AT', 'NOTE']
failures = []

def check(what, got, want):
    if got != want:
        failures.append('%s:\n  got  %r\n  want %r' % (what, got, want))

want_csv = [[c if c is not None else '' for c in row] for row in expected(folder + '/csv.expected')]
for name, enc in (('out8.csv', 'utf-8'), ('out16.csv', 'utf-16')):
    with open(folder + '/' + name, encoding=enc, newline='') as f:
        check(name, list(csv.reader(f, delimiter=';', quotechar='"')), want_csv)

def records(path):
    root = ET.parse(path).getroot()
    rows = []
    for ds in root.findall('DATASET'):
        fields = ds.find('FIELDS')
        check(path + ' FIELDS COUNT', int(fields.get('COUNT')), len(fields.findall('FIELD')))
        recs = ds.find('RECORDS')
        check(path + ' RECORDS COUNT', int(recs.get('COUNT')), len(recs.findall('RECORD')))
        rows += [[r.get(n) for n in names] + [r.findtext('BIN')] for r in recs.findall('RECORD')]
    return root, rows

want_xml = expected(folder + '/xml.expected')
root, rows = records(folder + '/out.xml')
check('out.xml', rows, want_xml)
check('TIMESTAMP', root.findtext('TIMESTAMP').lstrip('-').isdigit(), True)
# Records not grouped by the name: the returning name got a second DATASET.
a_root, a_rows = records(folder + '/g/A.xml')
b_root, b_rows = records(folder + '/g/B.xml')
check('A.xml DATASET IDs', [d.get('ID') for d in a_root.findall('DATASET')], ['0', '1'])
check('grouped records', sorted(a_rows + b_rows, key=lambda r: int(r[0])), want_xml)
print('\n'.join(failures))
sys.exit(1 if failures else 0)
)PY";

std::string Hex(const std::string& s) {
  if (s.empty()) return ".";
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct RoundTripTest : testing::WriterFixture {};

TEST_F(RoundTripTest, StandardReadersGetEveryValueBack) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  const std::vector<std::string> names = {
      "plain", "a;b", "say \"hi\"", "line\r\nbreak", "lf\nonly", "cr\ronly", "tab\there",
      "it's", "&<>", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "", "  spaced  ", ";", "\"",
      "\";\"", "\r\n", "]]>", "x]]>y]]>"};
  Value at;
  at.SetDateTime(EncodeDateTime(2015, 10, 8, 14, 3, 5, 678));
  std::vector<std::vector<Value>> rows;
  std::string csv_expected, xml_expected;
  for (size_t i = 0; i < names.size(); ++i) {
    Value price;
    price.SetDouble(double(i) + 0.5);
    const bool note = i % 3 == 0;
    const std::string note_text = note ? names[names.size() - 1 - i] : "";
    // Runs A, B, A: the name A comes back.
    const char* group = i < 6 || i >= 12 ? "A" : "B";
    rows.push_back({Value::Integer(int64_t(i)), Value::Text(names[i]), price, at,
                    note ? Value::Text(note_text) : Value::Null(), testing::Bytes(names[i]),
                    Value::Text(group)});
    char price_csv[32], price_xml[40];
    std::snprintf(price_csv, sizeof price_csv, "%zu.50", i);
    std::snprintf(price_xml, sizeof price_xml, "%.14E", double(i) + 0.5);  // "1.5...E+00", C locale
    std::string float_text = price_xml;
    float_text.insert(float_text.size() - 2, "00");  // 4-digit exponent
    csv_expected += Hex(std::to_string(i)) + " " + Hex(names[i]) + " " + Hex(price_csv) + " " +
                    Hex("2015-10-08 14:03:05") + " " + Hex(note_text) + "\n";
    xml_expected += Hex(std::to_string(i)) + " " + Hex(names[i]) + " " + Hex(float_text) + " " +
                    Hex("2015-10-08T14:03:05") + " " + (note ? Hex(note_text) : "~") + " " +
                    Hex(Cp1252ToUtf8(names[i])) + "\n";  // bytes as Windows-1252, CRs kept
  }
  WriteFile(dir / "csv.expected", csv_expected);
  WriteFile(dir / "xml.expected", xml_expected);

  const std::vector<FieldDef> fields = {
      {"ID", FieldType::kInteger, 0},   {"NAME", FieldType::kWideString, 50},
      {"PRICE", FieldType::kFloat, 0},  {"AT", FieldType::kDateTime, 0},
      {"NOTE", FieldType::kString, 50}, {"BIN", FieldType::kVarBytes, 50},
      {"GRP", FieldType::kString, 1}};
  const FormatSettings formats = DefaultFormatSettings();
  // One rewindable result set written to CSV and then XML, as a job with both does.
  Open(fields, rows, true);
  job.csv_fields = {{"ID", ""}, {"NAME", ""}, {"PRICE", ""}, {"AT", ""}, {"NOTE", ""}};
  job.csv_path = dir / "out8.csv";
  WriteCsvFiles(job, *query, formats, " ");
  job.xml_path = dir / "out.xml";
  WriteXmlFile(job, *query, formats);
  Open(fields, rows);
  job.csv_path = dir / "out16.csv";
  job.csv_code_page = 1;
  WriteCsvFiles(job, *query, formats, " ");
  Open(fields, rows);
  job.xml_path = dir / "g/:GRP.xml";
  WriteXmlFile(job, *query, formats);
  // The sizes and checksums taken while writing are those of the files,
  // the XML file that took a second data set (A, B, A) included.
  ASSERT_EQ(job.written_digests.size(), 3u);
  for (const WrittenFile& file : job.written_digests) {
    const std::string bytes = ReadFile(file.path);
    EXPECT_EQ(file.bytes, int64_t(bytes.size())) << file.path;
    EXPECT_EQ(file.sha256, Sha256Hex(bytes)) << file.path;
  }

  WriteFile(dir / "read.py", kReader);
  const std::string cmd = "/usr/bin/python3 " + (dir / "read.py") + " " + dir.path() + " > " +
                          (dir / "report.txt") + " 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(status, 0) << ReadFile(dir / "report.txt");
}

}  // namespace
}  // namespace ostrevane
