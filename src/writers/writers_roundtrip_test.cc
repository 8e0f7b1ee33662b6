// Standard readers get every value back: Python's csv module (and pandas,
// where it is installed) reads the CSV files (8-bit and UTF-16), xml.etree
// (Expat) and lxml (libxml2) the XML files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "common/codepage.h"
#include "common/json_writer.h"
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

struct RoundTripTest : testing::WriterFixture {
  // Runs a Python script with the test folder as its argument; its output
  // when it fails, else "".
  std::string RunPython(const std::string& script) {
    WriteFile(dir / "read.py", script);
    const std::string cmd = "/usr/bin/python3 " + (dir / "read.py") + " " + dir.path() + " > " +
                            (dir / "report.txt") + " 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string report = ReadFile(dir / "report.txt");
    return status == 0 ? "" : "status " + std::to_string(status) + "\n" + report;
  }
};

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

  EXPECT_EQ(RunPython(kReader), "");
}

// Every case is written to its own file; Python reads each back with the
// file's encoding, separator and quote and compares the rows.
const char kCsvReader[] = R"PY(
import csv, json, sys
folder = sys.argv[1]
try:
    import pandas
except ImportError:
    pandas = None
failures = []
for case in json.load(open(folder + '/cases.json', encoding='utf-8')):
    path = folder + '/' + case['file']
    quoting = dict(quotechar=case['quote']) if case['quote'] else dict(quoting=csv.QUOTE_NONE)
    with open(path, encoding=case['encoding'], newline='') as f:
        got = list(csv.reader(f, delimiter=case['separator'], **quoting))
    if got != case['rows']:
        failures.append('%s (csv):\n  got  %r\n  want %r' % (case['label'], got, case['rows']))
    if pandas:
        # The default engine takes ASCII separators and quotes only; the
        # other one skips a row of one empty value unless told not to.
        ascii = all(ord(c) < 128 for c in case['separator'] + (case['quote'] or ''))
        engine = dict() if ascii else dict(engine='python', skip_blank_lines=False)
        frame = pandas.read_csv(path, sep=case['separator'], header=None, dtype=str,
                                keep_default_na=False, encoding=case['encoding'],
                                **quoting, **engine)
        got = frame.values.tolist()
        if got != case['rows']:
            failures.append('%s (pandas):\n  got  %r\n  want %r' % (case['label'], got, case['rows']))
print('\n'.join(failures))
sys.exit(1 if failures else 0)
)PY";

TEST_F(RoundTripTest, CsvCasesReadBackAsWritten) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  using Cells = std::vector<std::optional<std::string>>;  // nullopt: NULL
  const std::string moon = "\xE6\x9C\x88", snowman = "\xE2\x98\x83", section = "\xC2\xA7";
  struct {
    const char* label;
    const char* code_page;  // the 8-bit code page, and Python's name for it
    const char* encoding;
    uint8_t csvcp;
    std::string separator, quote;
    std::vector<Cells> rows;
    std::vector<std::vector<std::string>> read;  // what a reader must get
  } cases[] = {
      // One column: an empty or NULL value is no empty line, also the last.
      {"one column", "UTF-8", "utf-8", 0, ";", "\"",
       {{"a"}, {std::nullopt}, {"b"}, {""}},
       {{"a"}, {""}, {"b"}, {""}}},
      {"one column, UTF-16", "UTF-8", "utf-16", 1, ";", "\"",
       {{""}, {"x"}, {std::nullopt}},
       {{""}, {"x"}, {""}}},
      {"one column, quote outside ASCII", "UTF-8", "utf-8", 0, ";", section,
       {{"a"}, {std::nullopt}, {section}},
       {{"a"}, {""}, {section}}},
      {"one column, values that need quotes", "UTF-8", "utf-8", 0, ";", "\"",
       {{"\""}, {"\r\n"}, {";"}, {std::nullopt}},
       {{"\""}, {"\r\n"}, {";"}, {""}}},
      {"one column, 8-bit code page", "CP1252", "cp1252", 0, ";", "\"",
       {{moon}, {std::nullopt}},
       {{"?"}, {""}}},
      {"two columns", "UTF-8", "utf-8", 0, ";", "\"",
       {{"1", std::nullopt}, {std::nullopt, ""}},
       {{"1", ""}, {"", ""}}},
      // The separator or the quote is "?" in the file, and so is a
      // character the code page lacks.
      {"separator becomes ?", "CP1252", "cp1252", 0, snowman, "\"",
       {{"1", moon + "x"}, {"2", "a?b"}, {"3", "plain"}},
       {{"1", "?x"}, {"2", "a?b"}, {"3", "plain"}}},
      {"separator ?", "CP1252", "cp1252", 0, "?", "\"",
       {{"1", moon + "x"}, {"2", "\xC3\xA9" + moon}},
       {{"1", "?x"}, {"2", "\xC3\xA9?"}}},
      {"quote becomes ?", "CP1252", "cp1252", 0, ";", snowman,
       {{"1", moon + "x"}, {"2", "a;b"}},
       {{"1", "?x"}, {"2", "a;b"}}},
      {"UTF-16 keeps every character", "CP1252", "utf-16", 1, snowman, "\"",
       {{"1", moon + "?"}},
       {{"1", moon + "?"}}},
  };
  JsonWriter manifest;
  manifest.BeginArray();
  int n = 0;
  for (const auto& c : cases) {
    testing::CodePageGuard code_page(c.code_page);
    std::vector<FieldDef> fields;
    for (size_t k = 0; k < c.rows[0].size(); ++k)
      fields.push_back({"F" + std::to_string(k), FieldType::kString, 20});
    std::vector<std::vector<Value>> rows;
    for (const Cells& cells : c.rows) {
      rows.emplace_back();
      for (const auto& cell : cells) rows.back().push_back(cell ? Value::Text(*cell) : Value::Null());
    }
    Open(fields, rows);
    const std::string file = "case" + std::to_string(++n) + ".csv";
    job.csv_path = dir / file;
    job.csv_code_page = c.csvcp;
    job.csv_separator = c.separator;
    job.csv_quote = c.quote;
    WriteCsvFiles(job, *query, DefaultFormatSettings(), " ");

    manifest.BeginObject();
    manifest.Key("label");
    manifest.String(c.label);
    manifest.Key("file");
    manifest.String(file);
    manifest.Key("encoding");
    manifest.String(c.encoding);
    // Python is given the separator and the quote as the file holds them.
    const bool shown_as_is = c.csvcp == 1 || std::string(c.code_page) == "UTF-8";
    manifest.Key("separator");
    manifest.String(shown_as_is ? c.separator : AnsiToUtf8(Utf8ToAnsi(c.separator)));
    manifest.Key("quote");
    manifest.String(shown_as_is ? c.quote : AnsiToUtf8(Utf8ToAnsi(c.quote)));
    manifest.Key("rows");
    manifest.BeginArray();
    for (const auto& row : c.read) {
      manifest.BeginArray();
      for (const std::string& cell : row) manifest.String(cell);
      manifest.EndArray();
    }
    manifest.EndArray();
    manifest.EndObject();
  }
  manifest.EndArray();
  WriteFile(dir / "cases.json", manifest.text());
  EXPECT_EQ(RunPython(kCsvReader), "");
}

// Each case is a file with a header line and one record; csv.DictReader
// and pandas must find the names as written and the values under them.
// pandas calls a column without a name "Unnamed: N": that is all it may
// change.
const char kHeaderReader[] = R"PY(
import csv, json, sys
folder = sys.argv[1]
try:
    import pandas
except ImportError:
    pandas = None
failures = []
for case in json.load(open(folder + '/headers.json', encoding='utf-8')):
    path, names = folder + '/' + case['file'], case['names']
    values = ['v%d' % k for k in range(len(names))]
    with open(path, encoding=case['encoding'], newline='') as f:
        reader = csv.DictReader(f, delimiter=';', quotechar='"')
        rows = list(reader)
    if reader.fieldnames != names or rows != [dict(zip(names, values))]:
        failures.append('%s (DictReader): %r %r' % (case['label'], reader.fieldnames, rows))
    if pandas:
        frame = pandas.read_csv(path, sep=';', dtype=str, keep_default_na=False,
                                encoding=case['encoding'])
        want = [n if n else 'Unnamed: %d' % k for k, n in enumerate(names)]
        if list(frame.columns) != want or frame.values.tolist() != [values]:
            failures.append('%s (pandas): %r %r' % (case['label'], list(frame.columns),
                                                     frame.values.tolist()))
print('\n'.join(failures))
sys.exit(1 if failures else 0)
)PY";

TEST_F(RoundTripTest, HeaderNamesReadBackExactly) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  struct {
    const char* label;
    const char* code_page;
    const char* encoding;  // Python's name for the file's encoding
    uint8_t csvcp;
    std::vector<std::string> names;
  } cases[] = {
      {"separator, quotes, line breaks", "UTF-8", "utf-8", 0,
       {"id", "a;b", "say \"hi\"", "\"", "line\r\nbreak", " spaced "}},
      {"non-ASCII", "UTF-8", "utf-8", 0, {"\xC3\xA9t\xC3\xA9", "\xE6\x9C\x88", "\xF0\x9F\x98\x80"}},
      {"empty names", "UTF-8", "utf-8", 0, {"", "x", ""}},
      {"one empty name", "UTF-8", "utf-8", 0, {""}},
      {"UTF-16", "UTF-8", "utf-16", 1, {"\xE6\x9C\x88;", "", "q\""}},
      {"8-bit code page", "CP1252", "cp1252", 0, {"caf\xC3\xA9", "a;b", "\xE2\x82\xAC"}},
  };
  JsonWriter manifest;
  manifest.BeginArray();
  int n = 0;
  for (const auto& c : cases) {
    testing::CodePageGuard code_page(c.code_page);
    std::vector<FieldDef> fields;
    std::vector<Value> row;
    for (size_t k = 0; k < c.names.size(); ++k) {
      fields.push_back({c.names[k], FieldType::kString, 20});
      row.push_back(Value::Text("v" + std::to_string(k)));
    }
    Open(fields, {row});
    const std::string file = "header" + std::to_string(++n) + ".csv";
    job.csv_path = dir / file;
    job.csv_code_page = c.csvcp;
    job.csv_header = Switch::kOn;
    WriteCsvFiles(job, *query, DefaultFormatSettings(), " ");
    manifest.BeginObject();
    manifest.Key("label");
    manifest.String(c.label);
    manifest.Key("file");
    manifest.String(file);
    manifest.Key("encoding");
    manifest.String(c.encoding);
    manifest.Key("names");
    manifest.BeginArray();
    for (const std::string& name : c.names) manifest.String(name);
    manifest.EndArray();
    manifest.EndObject();
  }
  manifest.EndArray();
  WriteFile(dir / "headers.json", manifest.text());
  EXPECT_EQ(RunPython(kHeaderReader), "");
}

// Each case is one file of one record; both parsers must read it, find
// the true names in FIELD NAME and the values under the expected
// attribute names, with no namespace anywhere.
const char kXmlNameReader[] = R"PY(
import base64, json, re, sys
import xml.etree.ElementTree as ET
folder = sys.argv[1]
try:
    import lxml.etree as LX
except ImportError:
    LX = None
failures = []

def true_name(xml_name):
    # _xHHHH_ is one UTF-16 code unit.
    units = re.sub(r'_x([0-9A-F]{4})_', lambda m: chr(int(m.group(1), 16)), xml_name)
    return units.encode('utf-16-le', 'surrogatepass').decode('utf-16-le')

def elements(root, name):
    # By local name: a namespace put in by mistake must not hide them.
    return [e for e in root.iter() if e.tag.split('}')[-1] == name]

def check(label, parser, root):
    fields = [f.get('NAME') for f in elements(root, 'FIELD')]
    if fields != case['fields']:
        failures.append('%s (%s) FIELD NAME: %r' % (label, parser, fields))
    record = elements(root, 'RECORD')[0]
    want = {a: v for a, v, _ in case['attributes']}
    got = dict(record.attrib)
    if got != want:
        failures.append('%s (%s) attributes:\n  got  %r\n  want %r' % (label, parser, got, want))
    for a, _, name in case['attributes']:
        if name is not None and true_name(a) != name:
            failures.append('%s: %r does not decode to %r' % (label, a, name))
    children = {c.tag.split('}')[-1]: (c.get('ENCODING'), c.text or '') for c in record}
    for tag, hex_bytes in case['binary']:
        encoding, text = children.get(tag, (None, None))
        if encoding == 'base64':
            got = base64.b64decode(text).hex()
        else:
            got = (text or '').encode('cp1252', 'replace').hex()
        if got != hex_bytes:
            failures.append('%s (%s) <%s>: %r' % (label, parser, tag, got))
    if any('{' in e.tag for e in root.iter()) or any(':' in a for e in root.iter() for a in e.attrib):
        failures.append('%s (%s): a namespace' % (label, parser))

for case in json.load(open(folder + '/names.json', encoding='utf-8')):
    path = folder + '/' + case['file']
    try:
        check(case['label'], 'ElementTree', ET.parse(path).getroot())
    except ET.ParseError as e:
        failures.append('%s (ElementTree): %s' % (case['label'], e))
    if LX is not None:
        try:
            root = LX.parse(path).getroot()
            if root.nsmap:
                failures.append('%s (lxml): namespaces %r' % (case['label'], root.nsmap))
            check(case['label'], 'lxml', root)
        except LX.XMLSyntaxError as e:
            failures.append('%s (lxml): %s' % (case['label'], e))
print('\n'.join(failures))
sys.exit(1 if failures else 0)
)PY";

TEST_F(RoundTripTest, XmlNamesReadByExpatAndLibxml2) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  struct Attribute {
    std::string xml_name;
    size_t field;  // the field whose value it holds
    bool decodes;  // to that field's name (not so for "_" and numbered names)
  };
  struct {
    const char* label;
    std::vector<std::string> names;    // the fields, all text; value of field k: "vk"
    std::vector<Attribute> attributes;  // the RECORD's, in order
  } cases[] = {
      {"namespace declarations", {"xmlns", "xmlns:p", "xml:lang", "xmlnsx"},
       {{"_x0078_mlns", 0, true},
        {"_x0078_mlns_x003A_p", 1, true},
        {"xml_x003A_lang", 2, true},
        {"xmlnsx", 3, true}}},
      {"empty and _", {"", "_"}, {{"_", 0, false}, {"_2", 1, false}}},
      {"two empty names", {"", "", "_2"}, {{"_", 0, false}, {"_3", 1, false}, {"_2", 2, true}}},
      {"the same name twice", {"X", "Y", "X"}, {{"X", 2, true}, {"Y", 1, true}}},
      {"later editions only",
       {"\xF0\x9F\x98\x80", "\xC7\x85", "\xE2\x85\xAB", "\xD9\xA0x", "\xF0\x90\x80\x80",
        "a\xE2\x80\x8B"},
       {{"_xD83D__xDE00_", 0, true},
        {"_x01C5_", 1, true},
        {"_x216B_", 2, true},
        {"_x0660_x", 3, true},
        {"_xD800__xDC00_", 4, true},
        {"a_x200B_", 5, true}}},
      {"name characters kept",
       {"\xC3\xA4pfel", "\xE5\x90\x8D\xE5\x89\x8D", "a\xC2\xB7" "b", "x\xD9\xA0", "\xE3\x83\xBC"},
       {{"\xC3\xA4pfel", 0, true},
        {"\xE5\x90\x8D\xE5\x89\x8D", 1, true},
        {"a\xC2\xB7" "b", 2, true},
        {"x\xD9\xA0", 3, true},
        {"_x30FC_", 4, true}}},  // an extender may not start a name
      {"other characters", {"a b", "1st", "_x0041_", "-a"},
       {{"a_x0020_b", 0, true}, {"_x0031_st", 1, true}, {"_x005F_x0041_", 2, true},
        {"_x002D_a", 3, true}}},
  };
  // A binary field beside the names: bytes XML cannot carry come back
  // from base64, the others from the CDATA section.
  const std::string control_bytes("\x00\x01 ab\x1F\r\n\xFF", 9), plain_bytes("a]]>\r\x80", 6);
  JsonWriter manifest;
  manifest.BeginArray();
  int n = 0;
  for (const auto& c : cases) {
    std::vector<FieldDef> fields;
    std::vector<Value> values;
    for (size_t k = 0; k < c.names.size(); ++k) {
      fields.push_back({c.names[k], FieldType::kString, 20});
      values.push_back(Value::Text("v" + std::to_string(k)));
    }
    fields.push_back({"B1", FieldType::kVarBytes, 20});
    fields.push_back({"B2", FieldType::kVarBytes, 20});
    values.push_back(testing::Bytes(control_bytes));
    values.push_back(testing::Bytes(plain_bytes));
    Open(fields, {values});
    const std::string file = "names" + std::to_string(++n) + ".xml";
    job.xml_path = dir / file;
    WriteXmlFile(job, *query, DefaultFormatSettings());

    manifest.BeginObject();
    manifest.Key("label");
    manifest.String(c.label);
    manifest.Key("file");
    manifest.String(file);
    manifest.Key("fields");
    manifest.BeginArray();
    for (const FieldDef& f : fields) manifest.String(f.name);
    manifest.EndArray();
    manifest.Key("attributes");
    manifest.BeginArray();
    for (const Attribute& a : c.attributes) {
      manifest.BeginArray();
      manifest.String(a.xml_name);
      manifest.String("v" + std::to_string(a.field));
      if (a.decodes)
        manifest.String(c.names[a.field]);
      else
        manifest.Null();
      manifest.EndArray();
    }
    manifest.EndArray();
    manifest.Key("binary");
    manifest.BeginArray();
    for (const auto& [tag, bytes] : {std::pair{"B1", control_bytes}, std::pair{"B2", plain_bytes}}) {
      manifest.BeginArray();
      manifest.String(tag);
      manifest.String(Hex(bytes));
      manifest.EndArray();
    }
    manifest.EndArray();
    manifest.EndObject();
  }
  manifest.EndArray();
  WriteFile(dir / "names.json", manifest.text());
  EXPECT_EQ(RunPython(kXmlNameReader), "");
}

}  // namespace
}  // namespace ostrevane
