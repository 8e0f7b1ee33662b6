#include "writers/xml_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "common/error.h"
#include "common/path.h"
#include "common/sha256.h"
#include "testing/writer_fixture.h"
#include "writers/xml_text.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime t) : t_(t) {}
  DateTime Now() const override { return t_; }

 private:
  DateTime t_;
};

// 2015-10-08 14:03:05 local: 1444312985 seconds after 1970 without a zone.
const FixedClock kClock(EncodeDateTime(2015, 10, 8, 14, 3, 5));

struct XmlTest : testing::WriterFixture {
  const FormatSettings formats = DefaultFormatSettings();
  XmlWriterOptions options{&kClock, RunBuffer::kDefaultMemoryLimit};
  void Write() { WriteXmlFile(job, *query, formats, options); }
  std::string Name(const std::string& n) { return dir / n; }

  // The RECORD lines of a one-record document.
  std::string RecordOf(const std::string& doc) {
    const size_t b = doc.find("\r\n\t\t\t<RECORD");
    const size_t e = doc.find("\r\n\t\t</RECORDS>");
    return b == std::string::npos || e == std::string::npos ? doc : doc.substr(b + 2, e - b - 2);
  }
};

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DATASETS>\r\n\t<TIMESTAMP>1444312985</TIMESTAMP>";

TEST_F(XmlTest, OneRunDocumentByteForByte) {
  const std::string expected = std::string(kHead) +
                               "\r\n\t<DATASET ID=\"0\">"
                               "\r\n\t\t<FIELDS COUNT=\"2\">"
                               "\r\n\t\t\t<FIELD NAME=\"ID\" DATATYPE=\"Integer\"/>"
                               "\r\n\t\t\t<FIELD NAME=\"NAME\" DATATYPE=\"String\"/>"
                               "\r\n\t\t</FIELDS>"
                               "\r\n\t\t<RECORDS COUNT=\"3\">"
                               "\r\n\t\t\t<RECORD ID=\"1\" NAME=\"a\"/>"
                               "\r\n\t\t\t<RECORD ID=\"2\" NAME=\"&amp;&lt;&gt;&quot;'\"/>"
                               "\r\n\t\t\t<RECORD ID=\"3\"/>"
                               "\r\n\t\t</RECORDS>"
                               "\r\n\t</DATASET>"
                               "\r\n</DATASETS>";
  // Held in memory, and spilled to a temporary file after every record.
  for (size_t memory : {RunBuffer::kDefaultMemoryLimit, size_t{1}}) {
    Open({{"ID", FieldType::kInteger, 0}, {"NAME", FieldType::kString, 10}},
         {{Value::Integer(1), Value::Text("a")},
          {Value::Integer(2), Value::Text("&<>\"'")},
          {Value::Integer(3), Value::Null()}});
    job.xml_path = Name("out.xml");
    job.written_files = {"earlier.csv"};
    options.run_memory = memory;
    Write();
    EXPECT_EQ(ReadFile(job.xml_path), expected) << memory;
    EXPECT_EQ(job.written_files, (std::vector<std::string>{"earlier.csv", job.xml_path}));
    EXPECT_TRUE(query->Eof());
  }
}

TEST_F(XmlTest, ValueFormsByType) {
  Value single;
  single.SetSingle(0.5f);
  Value time;
  time.SetDateTime(EncodeDateTime(1899, 12, 30, 14, 3, 5));
  Value stamp;
  stamp.SetDateTime(EncodeDateTime(2015, 10, 8, 14, 3, 5, 678));
  Value old;
  old.SetDateTime(EncodeDateTime(1850, 1, 2, 3, 4, 5));
  Value first, last, before_year_one;
  first.SetDateTime(EncodeDateTime(1, 1, 1));
  last.SetDateTime(EncodeDateTime(9999, 12, 31, 23, 59, 59));
  before_year_one.SetDateTime(EncodeDateTime(1, 1, 1) - 366);
  Value t, f;
  t.SetBoolean(true);
  f.SetBoolean(false);
  Value dec;
  dec.SetText("-0012.3400", ValueKind::kDecimal);
  Value cur;
  cur.SetCurrency(123400);
  struct {
    FieldType type;
    Value value;
    const char* text;
  } cases[] = {
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(2.5);
         return v;
       }(),
       "2.50000000000000E+0000"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(-0.001);
         return v;
       }(),
       "-1.00000000000000E-0003"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(0);
         return v;
       }(),
       "0.00000000000000E+0000"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(-0.0);
         return v;
       }(),
       "0.00000000000000E+0000"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(1e300);
         return v;
       }(),
       "1.00000000000000E+0300"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(1e-310);
         return v;
       }(),
       "9.99999999999997E-0311"},  // subnormal: fewer bits,
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(1.0 / 3);
         return v;
       }(),
       "3.33333333333333E-0001"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(INFINITY);
         return v;
       }(),
       "Inf"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(-INFINITY);
         return v;
       }(),
       "-Inf"},
      {FieldType::kFloat,
       [] {
         Value v;
         v.SetDouble(NAN);
         return v;
       }(),
       "Nan"},
      {FieldType::kSingle, single, "5.00000000000000E-0001"},
      {FieldType::kExtended,
       [] {
         Value v;
         v.SetDouble(1.5);
         return v;
       }(),
       "1.50000000000000E+0000"},
      {FieldType::kCurrency, cur, "1.23400000000000E+0001"},
      {FieldType::kBCD, cur, "12.34"},
      {FieldType::kBCD,
       [] {
         Value v;
         v.SetCurrency(50000);
         return v;
       }(),
       "5"},
      {FieldType::kFMTBcd, dec, "-12.34"},
      {FieldType::kBoolean, t, "1"},
      {FieldType::kBoolean, f, "0"},
      {FieldType::kDateTime, stamp, "2015-10-08T14:03:05"},
      {FieldType::kTime, time, "1899-12-30T14:03:05"},
      {FieldType::kDate, old, "1850-01-02T03:04:05"},
      {FieldType::kDate, first, "0001-01-01T00:00:00"},
      {FieldType::kDateTime, last, "9999-12-31T23:59:59"},
      {FieldType::kDate, before_year_one, "0000-01-01T00:00:00"},
      {FieldType::kBCD, Value::Text("<n/a>"), "&lt;n/a&gt;"},  // text standing in for a number
      {FieldType::kLargeint, Value::Integer(-9000000000), "-9000000000"},
      {FieldType::kWord, Value::Integer(65535), "65535"},
      {FieldType::kGuid,
       [] {
         Value v;
         v.SetText("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}", ValueKind::kGuid);
         return v;
       }(),
       "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"},
      {FieldType::kWideMemo, Value::Text(""), ""},  // a null memo arrives as empty text
      // CR, LF and TAB as references; forbidden characters and broken UTF-8 as U+FFFD
      {FieldType::kString, Value::Text("a\r\nb\tc"), "a&#13;&#10;b&#9;c"},
      {FieldType::kString, Value::Text(std::string("\0\x01\x1F\x7F", 4)),
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\x7F"},
      {FieldType::kString, Value::Text("\xC3(\xEF\xBF\xBF\xF0\x9F\x98\x80"),
       "\xEF\xBF\xBD(\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    Open({{"V", c.type, 0}}, {{c.value}});
    job.xml_path = Name("v.xml");
    Write();
    EXPECT_EQ(RecordOf(ReadFile(job.xml_path)), std::string("\t\t\t<RECORD V=\"") + c.text + "\"/>")
        << FieldTypeName(c.type) << " " << c.text;
  }
}

// Bytes XML can carry are Windows-1252 characters in CDATA; a value with
// any other control byte is written whole in base64.
TEST_F(XmlTest, BinaryFieldsAreChildElements) {
  Open({{"ID", FieldType::kInteger, 0},
        {"B", FieldType::kVarBytes, 8},
        {"L", FieldType::kBlob, 100},
        {"Z", FieldType::kBlob, 0}},
       {{Value::Integer(1), testing::Bytes("A]]>\x80\xFF\r\t\n"), Value::Null(),
         testing::Bytes("not written")},
        {Value::Integer(2), testing::Bytes(std::string("\0A", 2)), testing::Bytes("x"), Value::Null()},
        {Value::Null(), Value::Null(), Value::Null(), Value::Null()}});
  job.xml_path = Name("b.xml");
  Write();
  const std::string doc = ReadFile(job.xml_path);
  EXPECT_NE(doc.find("<FIELD NAME=\"B\" DATATYPE=\"Blob\"/>\r\n\t\t\t<FIELD NAME=\"L\" DATATYPE=\"Blob\"/>"
                     "\r\n\t\t\t<FIELD NAME=\"Z\" DATATYPE=\"Blob\"/>"),
            std::string::npos);
  EXPECT_EQ(RecordOf(doc),
            "\t\t\t<RECORD ID=\"1\">"
            "\r\n\t\t\t\t<B><![CDATA[A]]]><![CDATA[]>\xE2\x82\xAC\xC3\xBF]]>&#13;<![CDATA[\t\n]]></B>"
            "\r\n\t\t\t\t<L><![CDATA[]]></L>"
            "\r\n\t\t\t</RECORD>"
            "\r\n\t\t\t<RECORD ID=\"2\">"
            "\r\n\t\t\t\t<B ENCODING=\"base64\">AEE=</B>"
            "\r\n\t\t\t\t<L><![CDATA[x]]></L>"
            "\r\n\t\t\t</RECORD>"
            "\r\n\t\t\t<RECORD>"
            "\r\n\t\t\t\t<L><![CDATA[]]></L>"
            "\r\n\t\t\t</RECORD>");
}

TEST_F(XmlTest, RepeatedFieldNamesKeepTheFirstPlaceAndTheLaterValue) {
  Open({{"X", FieldType::kInteger, 0}, {"Y", FieldType::kInteger, 0}, {"X", FieldType::kString, 5}},
       {{Value::Integer(1), Value::Integer(2), Value::Text("3")},
        {Value::Null(), Value::Integer(2), Value::Text("3")},
        {Value::Integer(1), Value::Integer(2), Value::Null()}});
  job.xml_path = Name("d.xml");
  Write();
  EXPECT_EQ(RecordOf(ReadFile(job.xml_path)),
            "\t\t\t<RECORD X=\"3\" Y=\"2\"/>"
            "\r\n\t\t\t<RECORD Y=\"2\" X=\"3\"/>"
            "\r\n\t\t\t<RECORD X=\"1\" Y=\"2\"/>");
}

// A field name that is no XML name still gives a document every parser
// reads: the attribute or element name is escaped, FIELD NAME keeps it.
TEST(XmlNameTest, EscapesWhatMayNotStandWhereItStands) {
  struct {
    const char* name;
    const char* xml;
  } cases[] = {
      {"plain_Name-1.x", "plain_Name-1.x"},
      {"a b", "a_x0020_b"},
      {"1st", "_x0031_st"},
      {"x:y", "x_x003A_y"},
      {"_x00", "_x005F_x00"},
      {"a_b", "a_b"},
      {"-a", "_x002D_a"},
      {"\xC3\xA4pfel", "\xC3\xA4pfel"},
      {"\xE5\x90\x8D", "\xE5\x90\x8D"},              // an ideograph
      {"\xF0\x9F\x98\x80", "_xD83D__xDE00_"},          // outside the Basic Multilingual Plane
      {"\xC7\x85", "_x01C5_"},                         // a letter the older table leaves out
      {"a\xE2\x80\x8B" "b", "a_x200B_b"},              // U+200B may not stand in one
      {"x\xD9\xA0", "x\xD9\xA0"},                      // a digit after the first character,
      {"\xD9\xA0x", "_x0660_x"},                        // not at the start
      {"xmlns", "_x0078_mlns"},                         // would declare a namespace
      {"xmlns:a", "_x0078_mlns_x003A_a"},
      {"xmlnsa", "xmlnsa"},
      {"", "_"},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlName(c.name), c.xml) << c.name;
}

// Names that escape to the same XML name get numbers, so that no
// attribute comes twice; FIELD NAME keeps the true names.
TEST_F(XmlTest, FieldNamesThatAreNoXmlNamesAreEscaped) {
  Open({{"a b", FieldType::kInteger, 0},
        {"2nd", FieldType::kVarBytes, 4},
        {"", FieldType::kString, 4},
        {"_", FieldType::kString, 4},
        {"", FieldType::kString, 4}},
       {{Value::Integer(1), testing::Bytes("x"), Value::Text("e1"), Value::Text("u"),
         Value::Text("e2")}});
  job.xml_path = Name("n.xml");
  Write();
  const std::string doc = ReadFile(job.xml_path);
  EXPECT_NE(doc.find("<FIELD NAME=\"a b\" DATATYPE=\"Integer\"/>"
                     "\r\n\t\t\t<FIELD NAME=\"2nd\" DATATYPE=\"Blob\"/>"
                     "\r\n\t\t\t<FIELD NAME=\"\" DATATYPE=\"String\"/>"
                     "\r\n\t\t\t<FIELD NAME=\"_\" DATATYPE=\"String\"/>"
                     "\r\n\t\t\t<FIELD NAME=\"\" DATATYPE=\"String\"/>"),
            std::string::npos)
      << doc;
  EXPECT_EQ(RecordOf(doc),
            "\t\t\t<RECORD a_x0020_b=\"1\" _=\"e1\" _2=\"u\" _3=\"e2\">"
            "\r\n\t\t\t\t<_x0032_nd><![CDATA[x]]></_x0032_nd>"
            "\r\n\t\t\t</RECORD>");
}

TEST_F(XmlTest, RunsMakeFilesAndReturningNamesAddDatasets) {
  Open({{"ID", FieldType::kInteger, 0}, {"R", FieldType::kString, 5}},
       {{Value::Integer(1), Value::Text("A")},
        {Value::Integer(2), Value::Text("A")},
        {Value::Integer(3), Value::Text("B")},
        {Value::Integer(4), Value::Text("A")}});
  job.xml_path = dir.path() + "\\x\\:R.xml";
  options.run_memory = 1;
  Write();
  const std::string a = dir.path() + "\\x\\A.xml", b = dir.path() + "\\x\\B.xml";
  EXPECT_EQ(job.written_files, (std::vector<std::string>{a, b}));
  const std::string fields =
      "\r\n\t\t<FIELDS COUNT=\"2\">\r\n\t\t\t<FIELD NAME=\"ID\" DATATYPE=\"Integer\"/>"
      "\r\n\t\t\t<FIELD NAME=\"R\" DATATYPE=\"String\"/>\r\n\t\t</FIELDS>";
  EXPECT_EQ(ReadFile(NormalizePath(a)),
            std::string(kHead) + "\r\n\t<DATASET ID=\"0\">" + fields +
                "\r\n\t\t<RECORDS COUNT=\"2\">\r\n\t\t\t<RECORD ID=\"1\" R=\"A\"/>"
                "\r\n\t\t\t<RECORD ID=\"2\" R=\"A\"/>\r\n\t\t</RECORDS>\r\n\t</DATASET>"
                "\r\n\t<DATASET ID=\"1\">" + fields +
                "\r\n\t\t<RECORDS COUNT=\"1\">\r\n\t\t\t<RECORD ID=\"4\" R=\"A\"/>"
                "\r\n\t\t</RECORDS>\r\n\t</DATASET>\r\n</DATASETS>");
  EXPECT_EQ(ReadFile(NormalizePath(b)),
            std::string(kHead) + "\r\n\t<DATASET ID=\"0\">" + fields +
                "\r\n\t\t<RECORDS COUNT=\"1\">\r\n\t\t\t<RECORD ID=\"3\" R=\"B\"/>"
                "\r\n\t\t</RECORDS>\r\n\t</DATASET>\r\n</DATASETS>");
  // Runs spilled to disk (run_memory 1) and a root end written over still
  // give the checksums of the files.
  ASSERT_EQ(job.written_digests.size(), 2u);
  for (const WrittenFile& file : job.written_digests) {
    const std::string bytes = ReadFile(NormalizePath(file.path));
    EXPECT_EQ(file.bytes, int64_t(bytes.size())) << file.path;
    EXPECT_EQ(file.sha256, Sha256Hex(bytes)) << file.path;
  }
}

// Records that outgrow the memory are written into the file behind room
// for a head whose count is guessed; whatever the final count's width, the
// bytes are those of a run held in memory, for a new file and for a
// DATASET added to a file begun earlier in the call.
TEST_F(XmlTest, SpilledRunsGiveTheBytesOfRunsHeldInMemory) {
  auto rows = [](int64_t n, const char* region) {
    std::vector<std::vector<Value>> r;
    for (int64_t i = 0; i < n; ++i) r.push_back({Value::Integer(i), Value::Text(region)});
    return r;
  };
  // Spilled after the first record, the guess is three digits: counts
  // below it move the records back, counts above it move them on.
  for (int64_t n : {1, 2, 9, 10, 99, 100, 101, 999, 1000, 1234}) {
    std::vector<std::vector<Value>> data = rows(n, "A");
    for (auto& r : rows(1, "B")) data.push_back(r);
    for (auto& r : rows(n, "A")) data.push_back(r);
    std::string expected_a, expected_b;
    for (size_t memory : {RunBuffer::kDefaultMemoryLimit, size_t{1}, size_t{200}}) {
      Open({{"ID", FieldType::kInteger, 0}, {"R", FieldType::kString, 5}}, data);
      job.xml_path = dir.path() + "/s/:R.xml";
      job.written_files.clear();
      options.run_memory = memory;
      Write();
      const std::string a = ReadFile(dir.path() + "/s/A.xml"), b = ReadFile(dir.path() + "/s/B.xml");
      if (memory == RunBuffer::kDefaultMemoryLimit) {
        expected_a = a;
        expected_b = b;
        ASSERT_NE(a.find("<RECORDS COUNT=\"" + std::to_string(n) + "\">"), std::string::npos) << n;
        ASSERT_NE(a.find("<DATASET ID=\"1\">"), std::string::npos) << n;
        continue;
      }
      EXPECT_EQ(a, expected_a) << n << " records, memory " << memory;
      EXPECT_EQ(b, expected_b) << n << " records, memory " << memory;
      EXPECT_EQ(job.written_files.size(), 2u);
    }
  }
}

// -ifempty:deliver: one data set with the fields and no record; without
// it, no file.
TEST_F(XmlTest, EmptyResultIsOneDatasetOfNoRecordOnlyWhenDelivered) {
  const std::string expected = std::string(kHead) +
                               "\r\n\t<DATASET ID=\"0\">"
                               "\r\n\t\t<FIELDS COUNT=\"1\">"
                               "\r\n\t\t\t<FIELD NAME=\"ID\" DATATYPE=\"Integer\"/>"
                               "\r\n\t\t</FIELDS>"
                               "\r\n\t\t<RECORDS COUNT=\"0\">"
                               "\r\n\t\t</RECORDS>"
                               "\r\n\t</DATASET>"
                               "\r\n</DATASETS>";
  for (IfEmpty if_empty : {IfEmpty::kSkip, IfEmpty::kDeliver}) {
    Open({{"ID", FieldType::kInteger, 0}}, {});
    job.xml_path = Name("empty.xml");
    job.if_empty = if_empty;
    Write();
    if (if_empty == IfEmpty::kSkip) {
      EXPECT_FALSE(std::filesystem::exists(job.xml_path));
      EXPECT_TRUE(job.written_files.empty());
    } else {
      EXPECT_EQ(ReadFile(job.xml_path), expected);
      EXPECT_EQ(job.written_files, std::vector<std::string>{job.xml_path});
    }
  }
  Open({{"ID", FieldType::kInteger, 0}}, {});
  job.xml_path = Name("by_:ID.xml");
  EXPECT_THROW(Write(), Error);
  EXPECT_FALSE(std::filesystem::exists(Name("by_.xml")));
}

TEST_F(XmlTest, TemplateJobWritesNothing) {
  Open({{"ID", FieldType::kInteger, 0}}, {{Value::Integer(1)}, {Value::Integer(2)}});
  job.xml_path = Name("never.xml");
  job.xml_template = "template.xml";
  Write();
  EXPECT_FALSE(std::filesystem::exists(job.xml_path));
  EXPECT_TRUE(job.written_files.empty());
  EXPECT_EQ(query->FieldAt(0).value().i, 1);  // untouched
}

TEST_F(XmlTest, UnknownFieldTypeFailsBeforeTheFileIsCreated) {
  Open({{"ID", FieldType::kInteger, 0}, {"SEQ", FieldType::kAutoInc, 0}},
       {{Value::Integer(1), Value::Integer(1)}});
  job.xml_path = Name("u.xml");
  try {
    Write();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), "Exception");
    EXPECT_EQ(e.message(), "Unknown field type: SEQ");
  }
  EXPECT_FALSE(std::filesystem::exists(job.xml_path));
  EXPECT_TRUE(job.written_files.empty());
}

TEST_F(XmlTest, CreateFailureIsNotListed) {
  WriteFile(Name("blocker"), "x");
  Open({{"ID", FieldType::kInteger, 0}}, {{Value::Integer(1)}});
  job.xml_path = Name("blocker/x.xml");
  try {
    Write();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEFCreateError);
    EXPECT_EQ(e.message(), "Cannot create file \"" + dir.path() + "/blocker/x.xml\". Not a directory");
  }
  EXPECT_TRUE(job.written_files.empty());
}

}  // namespace
}  // namespace ostrevane
