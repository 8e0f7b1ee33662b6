#include "writers/xml_writer.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/dataset.h"
#include "writers/datetime_format.h"
#include "writers/name_template.h"
#include "writers/number_text.h"
#include "writers/output_files.h"
#include "writers/staged_files.h"
#include "writers/xml_text.h"

namespace ostrevane {
namespace {

// The base type of a field: it names the DATATYPE and chooses the form of
// the value.
enum class Base : uint8_t {
  kNone,  // no DATATYPE: the job fails
  kString, kInteger, kWord, kLongInt, kLongWord, kGuid, kBoolean,
  kFloat, kCurrency, kExtended, kSingle, kBCD, kDateTime,
  kBytes,  // short binary: a child element whenever the value is not null
  kBlob,   // long binary: a child element only when the declared size is not 0
};

Base BaseTypeOf(FieldType t) {
  using enum FieldType;
  switch (t) {
    case kString:
    case kMemo:
    case kFixedChar:
    case kWideString:
    case kFixedWideChar:
    case kWideMemo:
      return Base::kString;
    case kSmallint:
    case kInteger:
    case kShortint:
      return Base::kInteger;
    case kWord:
    case kByte:
      return Base::kWord;
    case kLargeint:
      return Base::kLongInt;
    case kLongWord:
      return Base::kLongWord;
    case kGuid:
      return Base::kGuid;
    case kBoolean:
      return Base::kBoolean;
    case kFloat:
      return Base::kFloat;
    case kCurrency:
      return Base::kCurrency;
    case kExtended:
      return Base::kExtended;
    case kSingle:
      return Base::kSingle;
    case kBCD:
    case kFMTBcd:
      return Base::kBCD;
    case kDate:
    case kTime:
    case kDateTime:
    case kTimeStamp:
      return Base::kDateTime;
    case kBytes:
    case kVarBytes:
      return Base::kBytes;
    case kBlob:
    case kGraphic:
      return Base::kBlob;
    default: return Base::kNone;
  }
}

const char* DataTypeName(Base b) {
  switch (b) {
    case Base::kString: return "String";
    case Base::kInteger: return "Integer";
    case Base::kWord: return "Word";
    case Base::kLongInt: return "LongInt";
    case Base::kLongWord: return "LongWord";
    case Base::kGuid: return "GUID";
    case Base::kBoolean: return "Boolean";
    case Base::kFloat: return "Float";
    case Base::kCurrency: return "Currency";
    case Base::kExtended: return "Extended";
    case Base::kSingle: return "Single";
    case Base::kBCD: return "BCD";
    case Base::kDateTime: return "DateTime";
    case Base::kBytes: case Base::kBlob: return "Blob";
    case Base::kNone: break;
  }
  return "";
}

const char* KindName(ValueKind k) {
  switch (k) {
    case ValueKind::kBytes: return "Array Byte";
    case ValueKind::kText: case ValueKind::kDecimal: return "String";
    case ValueKind::kGuid: return "String";
    default: return "Variant";
  }
}

[[noreturn]] void ThrowConvert(const Value& v, const char* to) {
  throw Error(kEConvertError, std::string("Could not convert variant of type (") + KindName(v.kind) +
                                  ") into type (" + to + ")");
}

double ParseDouble(const Value& v) {
  const std::string t = Trim(v.s);
  double d = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), d);
  if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size())
    throw Error(kEConvertError, "'" + v.s + "' is not a valid floating point value");
  return d;
}

double AsDouble(const Value& v) {
  switch (v.kind) {
    case ValueKind::kSingle: case ValueKind::kDouble: case ValueKind::kDateTime: return v.d;
    case ValueKind::kInt16: case ValueKind::kInt32: case ValueKind::kInt64:
    case ValueKind::kBoolean:
      return double(v.i);
    case ValueKind::kCurrency: return double(v.i) / 10000.0;
    case ValueKind::kText: case ValueKind::kDecimal: return ParseDouble(v);
    default: ThrowConvert(v, "Double");
  }
}

bool AsBoolean(const Value& v) {
  switch (v.kind) {
    case ValueKind::kBoolean: case ValueKind::kInt16: case ValueKind::kInt32:
    case ValueKind::kInt64: case ValueKind::kCurrency:
      return v.i != 0;
    case ValueKind::kSingle: case ValueKind::kDouble: return v.d != 0;
    case ValueKind::kText:
      if (IEquals(Trim(v.s), "true")) return true;
      if (IEquals(Trim(v.s), "false")) return false;
      return ParseDouble(v) != 0;
    default: ThrowConvert(v, "Boolean");
  }
}

struct XmlField {
  Field* field;
  Base base;
  std::string attribute;  // ` NAME="`, the name as an XML name (attribute fields)
  size_t slot = 0;        // the attribute's place: the first field of that name
  std::string element;    // the name as an XML name (child element fields)
};

constexpr std::string_view kRootEnd = "\r\n</DATASETS>";

class XmlWriter {
 public:
  XmlWriter(Job& job, Query& query, const FormatSettings& formats, const XmlWriterOptions& options)
      : job_(job),
        query_(query),
        formats_(formats),
        clock_(options.clock ? *options.clock : SystemClock()),
        names_(job, job.xml_path, query, formats, " "),
        run_(options.run_memory),
        staged_(names_.fixed_prefix(), options.batch) {
    staged_.set_meter(job.meter);
    staged_.set_compression(job.compression);
    // A compressed file cannot take back its root end tag to add a data
    // set: where names may come back, every file gets it only at the end.
    defer_root_end_ = job.compression.method != CompressionMethod::kNone &&
                      job.compression.method != CompressionMethod::kNotGiven &&
                      names_.per_record();
    Describe();
  }

  void Write() {
    try {
      if (query_.Eof())
        WriteEmptyRun();
      else
        WriteRuns();
      if (defer_root_end_) EndRoots();
      staged_.CommitAll(&job_.written_digests);
    } catch (const Error& e) {
      // Nothing of this call keeps its final name: the temporary files go
      // with `staged_`.
      if (writing_) throw NamingFile(e, run_name_);
      throw;
    }
  }

 private:
  void WriteRuns() {
    while (!query_.Eof()) {
      writing_ = false;
      const int64_t timestamp = SecondsSince1970(clock_.Now());
      run_name_ = names_.NameFor(query_);
      const std::string& run_name = run_name_;
      if (unknown_) throw Exception("Unknown field type: " + unknown_->name());
      for (size_t i = 0; i < query_.FieldCount(); ++i)
        query_.FieldAt(i).display_label = query_.FieldAt(i).name();

      // The run's records go to the buffer first: RECORDS states their
      // count before them.
      run_.Reset();
      out_.reset();
      spill_ = Spill::kMemory;
      const std::string folder = FolderPart(run_name);
      int64_t count = 0;
      while (true) {
        ++count;
        writing_ = true;
        AppendRecord(run_.text());
        if (run_.Full()) SpillRecords(run_name, timestamp, count, folder);
        query_.Next();
        if (query_.Eof()) break;
        writing_ = false;  // a failing name belongs to no file yet
        if (names_.per_record() && names_.NameFor(query_) != run_name) break;
      }
      writing_ = true;
      WriteRun(run_name, timestamp, count);
    }
  }

  // A result without records (-ifempty:deliver): one data set with its
  // fields and RECORDS COUNT="0", in the file the template names.
  void WriteEmptyRun() {
    run_name_ = names_.NameWithoutRecord();
    if (unknown_) throw Exception("Unknown field type: " + unknown_->name());
    writing_ = true;
    WriteRun(run_name_, SecondsSince1970(clock_.Now()), 0);
  }

  void Describe() {
    std::vector<std::string_view> names;
    for (size_t i = 0; i < query_.FieldCount(); ++i) names.push_back(query_.FieldAt(i).name());
    const std::vector<std::string> xml_names = XmlFieldNames(names);
    // Fields of the same name share an XML name and an attribute's place.
    std::unordered_map<std::string, size_t> slots;
    for (size_t i = 0; i < query_.FieldCount(); ++i) {
      Field& f = query_.FieldAt(i);
      const Base base = BaseTypeOf(f.type());
      if (base == Base::kNone && !unknown_) unknown_ = &f;
      fields_xml_ += "\r\n\t\t\t<FIELD NAME=\"";
      AppendXmlAttributeText(fields_xml_, f.name());
      fields_xml_ += "\" DATATYPE=\"";
      fields_xml_ += DataTypeName(base);
      fields_xml_ += "\"/>";
      if (base == Base::kBytes || (base == Base::kBlob && f.size() != 0)) {
        children_.push_back({&f, base, {}, 0, xml_names[i]});
      } else if (base != Base::kBlob && base != Base::kNone) {
        XmlField x{&f, base, Concat({" ", xml_names[i], "=\""}), 0, {}};
        auto [it, fresh] = slots.emplace(xml_names[i], attributes_.size());
        x.slot = it->second;
        if (!fresh) duplicates_ = true;
        attributes_.push_back(std::move(x));
      }
    }
    slot_count_ = attributes_.size();
  }

  // The value text of an attribute, escaped.
  void AppendAttributeValue(std::string& out, const XmlField& x, const Value& v) {
    if ((v.kind == ValueKind::kText || v.kind == ValueKind::kGuid) &&
        (x.base == Base::kString || x.base == Base::kGuid || x.base == Base::kInteger ||
         x.base == Base::kWord || x.base == Base::kLongInt || x.base == Base::kLongWord)) {
      AppendXmlAttributeText(out, v.s);
      return;
    }
    // Booleans, numbers and date-times are written as ASCII digits, signs,
    // letters, "." and ":" only, none of which XML escapes: they go straight
    // into the record. Text that stands in for a number is escaped.
    switch (x.base) {
      case Base::kBoolean:
        out += AsBoolean(v) ? '1' : '0';
        return;
      case Base::kFloat: case Base::kCurrency: case Base::kExtended: case Base::kSingle:
        AppendFloatText(out, AsDouble(v));
        return;
      case Base::kBCD:
        if (v.kind == ValueKind::kText || v.kind == ValueKind::kDecimal) break;
        AppendDecimal(out, v, '.');
        return;
      case Base::kDateTime:
        if (v.kind == ValueKind::kText || v.kind == ValueKind::kDecimal || v.kind == ValueKind::kBytes ||
            v.kind == ValueKind::kGuid)
          ThrowConvert(v, "Date");
        AppendIsoDateTime(out, AsDouble(v));
        return;
      default:
        if (IsIntegerKind(v.kind)) {
          AppendInt(out, v.i);
          return;
        }
        break;
    }
    scratch_.clear();
    if (x.base == Base::kBCD)
      AppendDecimal(scratch_, v, '.');
    else
      AppendStandard(scratch_, v);
    AppendXmlAttributeText(out, scratch_);
  }

  // Exact digits of a decimal value with "." ("12.34", "5").
  void AppendDecimal(std::string& out, const Value& v, char sep) {
    switch (v.kind) {
      case ValueKind::kDecimal: case ValueKind::kText: AppendDecimalText(out, v.s, sep); break;
      case ValueKind::kCurrency:
        digits_.clear();
        AppendCurrencyDigits(digits_, v.i);
        AppendDecimalText(out, digits_, sep);
        break;
      case ValueKind::kSingle: case ValueKind::kDouble: AppendShortest(out, v.d); break;
      case ValueKind::kBytes: ThrowConvert(v, "BCD");
      default: AppendInt(out, v.i); break;
    }
  }

  // The standard text of a value of any kind.
  void AppendStandard(std::string& out, const Value& v) {
    switch (v.kind) {
      case ValueKind::kNull: break;
      case ValueKind::kInt16: case ValueKind::kInt32: case ValueKind::kInt64: AppendInt(out, v.i); break;
      case ValueKind::kText: case ValueKind::kGuid: out += v.s; break;
      case ValueKind::kBoolean: out += v.i ? "True" : "False"; break;
      case ValueKind::kDecimal:
      case ValueKind::kCurrency:
        AppendDecimal(out, v, formats_.decimal_separator);
        break;
      case ValueKind::kSingle: case ValueKind::kDouble: AppendShortest(out, v.d); break;
      case ValueKind::kDateTime: AppendIsoDateTime(out, v.d); break;
      case ValueKind::kBytes: ThrowConvert(v, "String");
    }
  }

  void AppendRecord(std::string& out) {
    out += "\r\n\t\t\t<RECORD";
    if (!duplicates_) {
      for (const XmlField& x : attributes_) {
        const Value& v = x.field->value();
        if (v.IsNull()) continue;
        out += x.attribute;
        AppendAttributeValue(out, x, v);
        out += '"';
      }
    } else {
      // A name set again keeps its first place and takes the later value.
      chosen_.assign(slot_count_, nullptr);
      order_.clear();
      for (const XmlField& x : attributes_) {
        if (x.field->value().IsNull()) continue;
        if (!chosen_[x.slot]) order_.push_back(x.slot);
        chosen_[x.slot] = &x;
      }
      for (size_t slot : order_) {
        const XmlField& x = *chosen_[slot];
        out += x.attribute;
        AppendAttributeValue(out, x, x.field->value());
        out += '"';
      }
    }
    bool has_children = false;
    for (const XmlField& x : children_) {
      const Value& v = x.field->value();
      if (x.base == Base::kBytes && v.IsNull()) continue;
      if (!has_children) out += '>';
      has_children = true;
      out += "\r\n\t\t\t\t";
      scratch_.clear();
      if (v.kind == ValueKind::kBytes || v.kind == ValueKind::kText)
        scratch_ = v.s;
      else
        AppendStandard(scratch_, v);
      AppendBinaryElement(out, x.element, scratch_);
    }
    out += has_children ? "\r\n\t\t\t</RECORD>" : "/>";
  }

  // Opens the file of the run `name` into out_, positioned where the run's
  // DATASET begins: a new file, or one begun earlier in this call, whose
  // root end tag the DATASET replaces.
  void OpenRunFile(const std::string& name) {
    run_index_ = staged_.Find(name);
    run_fresh_ = run_index_ == StagedFiles::kNotFound;
    if (run_fresh_) {
      run_index_ = staged_.Begin(name);
      next_ids_.push_back(0);
      file_names_.push_back(name);
      staged_.Open(run_index_, OutputFile::Mode::kCreate, OutputFile::kDefaultBuffer, out_);
      run_start_ = 0;
      return;
    }
    if (defer_root_end_) {
      staged_.Open(run_index_, OutputFile::Mode::kAppend, OutputFile::kDefaultBuffer, out_);
      return;
    }
    staged_.Open(run_index_, OutputFile::Mode::kUpdate, OutputFile::kDefaultBuffer, out_);
    const int64_t size = out_->Size();
    if (out_->ReadTail(kRootEnd.size()) != kRootEnd)
      throw Exception("Cannot add to file \"" + CutForMessage(AbsolutePath(name)) +
                      "\": it was changed while it was written");
    run_start_ = size - int64_t(kRootEnd.size());
    out_->Seek(run_start_);
  }

  // Everything of the run's file before its first record: the declaration
  // and TIMESTAMP for a new file, then DATASET, FIELDS and the RECORDS
  // start tag stating `count`.
  std::string Head(int64_t timestamp, int64_t count) const {
    std::string head;
    head.reserve(160 + fields_xml_.size());
    if (run_fresh_) {
      head += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DATASETS>\r\n\t<TIMESTAMP>";
      AppendInt(head, timestamp);
      head += "</TIMESTAMP>";
    }
    head += "\r\n\t<DATASET ID=\"";
    AppendInt(head, next_ids_[run_index_]);
    head += "\">\r\n\t\t<FIELDS COUNT=\"";
    AppendInt(head, int64_t(query_.FieldCount()));
    if (query_.FieldCount() == 0) {
      head += "\"/>";
    } else {
      head += "\">";
      head += fields_xml_;
      head += "\r\n\t\t</FIELDS>";
    }
    head += "\r\n\t\t<RECORDS COUNT=\"";
    AppendInt(head, count);
    head += "\">";
    return head;
  }

  // The buffer is full. The records go into the run's file itself, behind
  // room for a head whose count is assumed to have two digits more than
  // the count so far: a run that outgrows the memory is taken to be 10 to
  // 100 times as long. When the final count has that width the head fills
  // the room exactly and every record is written once; otherwise the
  // records are moved by the difference at the end. Only a file that
  // cannot seek keeps its records in a temporary file until the end.
  void SpillRecords(const std::string& name, int64_t timestamp, int64_t count,
                    const std::string& folder) {
    if (spill_ == Spill::kMemory) {
      OpenRunFile(name);
      if (out_->Seekable()) {
        // Moving the records needs to read them back: a new file is opened
        // again for reading and writing (it is still empty).
        if (run_fresh_) {
          out_.reset();
          staged_.Open(run_index_, OutputFile::Mode::kUpdate, OutputFile::kDefaultBuffer, out_);
        }
        spill_ = Spill::kInPlace;
        int64_t assumed = 100;
        for (int64_t c = count; c >= 10; c /= 10) assumed *= 10;
        records_at_ = run_start_ + int64_t(Head(timestamp, assumed).size());
        records_size_ = 0;
        out_->Seek(records_at_);
      } else {
        spill_ = Spill::kAside;
      }
    }
    if (spill_ == Spill::kInPlace) {
      out_->Write(run_.text());
      records_size_ += int64_t(run_.text().size());
      run_.text().clear();
    } else {
      run_.Settle(folder);
    }
  }

  void WriteRun(const std::string& name, int64_t timestamp, int64_t count) {
    if (!out_) OpenRunFile(name);
    const std::string head = Head(timestamp, count);
    const std::string_view kRunEnd =
        defer_root_end_ ? "\r\n\t\t</RECORDS>\r\n\t</DATASET>"
                        : "\r\n\t\t</RECORDS>\r\n\t</DATASET>\r\n</DATASETS>";
    if (spill_ == Spill::kInPlace) {
      out_->Write(run_.text());
      records_size_ += int64_t(run_.text().size());
      run_.text().clear();
      const int64_t records_at = run_start_ + int64_t(head.size());
      out_->MoveBytes(records_at_, records_at, records_size_);
      out_->Seek(run_start_);
      out_->Write(head);
      out_->Seek(records_at + records_size_);
      out_->Write(kRunEnd);
      // Records moved towards the start leave old bytes behind the end.
      out_->TruncateHere();
      // The head came after the records, out of the order a digest can
      // follow: the file's checksum is taken from the file itself, once.
      out_->DigestWholeFile();
    } else {
      out_->Write(head);
      run_.CopyTo(*out_);
      out_->Write(kRunEnd);
    }
    out_->Close();
    out_.reset();
    ++next_ids_[run_index_];
    if (run_fresh_) job_.written_files.push_back(name);
  }

  // Ends the root element of every file of the call (defer_root_end_).
  void EndRoots() {
    for (size_t i = 0; i < next_ids_.size(); ++i) {
      run_name_ = file_names_[i];
      staged_.Open(i, OutputFile::Mode::kAppend, OutputFile::kDefaultBuffer, out_);
      out_->Write(kRootEnd);
      out_->Close();
      out_.reset();
    }
  }

  Job& job_;
  Query& query_;
  const FormatSettings& formats_;
  const Clock& clock_;
  NameTemplate names_;
  RunBuffer run_;

  std::string fields_xml_;            // the FIELD elements, the same for every run
  std::vector<XmlField> attributes_;  // fields written as attributes, in order
  std::vector<XmlField> children_;    // fields written as child elements
  bool duplicates_ = false;           // two attribute fields share a name
  size_t slot_count_ = 0;
  const Field* unknown_ = nullptr;    // the first field without a DATATYPE

  std::vector<const XmlField*> chosen_;
  std::vector<size_t> order_;
  std::string scratch_;
  std::string digits_;  // a currency value's digits on their way to its text
  // The files of this call and, by their index there, the ID of their next
  // DATASET.
  StagedFiles staged_;
  std::vector<int64_t> next_ids_;
  std::string run_name_;  // the name of the current run
  bool writing_ = false;  // a failure now spoils the file run_name_
  bool defer_root_end_ = false;
  std::vector<std::string> file_names_;  // by their index in staged_

  // Where the records of the current run wait for their head.
  enum class Spill : uint8_t {
    kMemory,   // all in run_'s text
    kInPlace,  // in out_ from records_at_, the rest in run_'s text
    kAside,    // in run_'s temporary file, the rest in its text
  };
  Spill spill_ = Spill::kMemory;
  std::optional<OutputFile> out_;  // the run's file, once opened
  size_t run_index_ = 0;           // its index in staged_
  bool run_fresh_ = false;         // begun by this run
  int64_t run_start_ = 0;          // where the run's DATASET begins in it
  int64_t records_at_ = 0;         // kInPlace: where the records begin
  int64_t records_size_ = 0;       // kInPlace: their bytes written so far
};

}  // namespace

void WriteXmlFile(Job& job, Query& query, const FormatSettings& formats,
                  const XmlWriterOptions& options) {
  if (!job.xml_template.empty()) return;
  query.First();
  if (query.Eof() && job.if_empty != IfEmpty::kDeliver) return;
  XmlWriter(job, query, formats, options).Write();
}

void WriteXmlFile(Job& job, Query& query, const FormatSettings& formats) {
  WriteXmlFile(job, query, formats, XmlWriterOptions{});
}

}  // namespace ostrevane
