#include "control/options.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "common/environment_text.h"
#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "control/cut_field.h"
#include "control/job_files.h"
#include "data/connection_string.h"

namespace ostrevane {
namespace {

enum class Option {
  kClear, kUdl, kSql, kPostSql, kPostRecSql, kDs, kCsvFormat, kCsvCp, kToCsv, kToXml,
  kXmlTmpl, kMail, kFrTemplate, kHttp, kFtp, kFtpDir, kSftp, kS3, kFields, kParams, kFdf, kFtf,
  kIfEmpty, kJobTimeout, kToJson, kCsvHeader, kCompress, kSubject, kMailBody, kNone
};

struct OptionName {
  std::string_view name;
  Option option;
};
constexpr OptionName kOptions[] = {
    {"-clear", Option::kClear},       {"-udl", Option::kUdl},
    {"-sql", Option::kSql},           {"-postsql", Option::kPostSql},
    {"-postrecsql", Option::kPostRecSql}, {"-ds", Option::kDs},
    {"-csvformat", Option::kCsvFormat}, {"-csvcp", Option::kCsvCp},
    {"-tocsv", Option::kToCsv},       {"-toxml", Option::kToXml},
    {"-xmltmpl", Option::kXmlTmpl},   {"-mail", Option::kMail},
    {"-frtemplate", Option::kFrTemplate}, {"-http", Option::kHttp},
    {"-ftp", Option::kFtp},           {"-ftpdir", Option::kFtpDir},
    {"-sftp", Option::kSftp},         {"-s3", Option::kS3},
    {"-fields", Option::kFields},     {"-params", Option::kParams},
    {"-fdf", Option::kFdf},           {"-ftf", Option::kFtf},
    {"-ifempty", Option::kIfEmpty},   {"-jobtimeout", Option::kJobTimeout},
    {"-tojson", Option::kToJson},     {"-csvheader", Option::kCsvHeader},
    {"-compress", Option::kCompress}, {"-subject", Option::kSubject},
    {"-mailbody", Option::kMailBody},
};

Option Lookup(std::string_view name) {
  for (const OptionName& o : kOptions)
    if (IEquals(name, o.name)) return o.option;
  return Option::kNone;
}

// Length in bytes of the UTF-8 character that starts `s` (1 for a stray byte).
size_t CharLength(std::string_view s) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return n <= s.size() ? n : 1;
}

std::string_view NameOf(Option option) {
  for (const OptionName& o : kOptions)
    if (o.option == option) return o.name;
  return {};
}

Error OptionError(Option option, const std::string& what) {
  return Exception("option " + std::string(NameOf(option)) + ": " + what);
}

// A value as a message quotes it: secrets masked, control characters visible.
std::string Shown(std::string_view value) {
  return "\"" + ShowControlCharacters(CutForMessage(MaskSecrets(value))) + "\"";
}

// The text of a file an option names, and the file's absolute name.
std::string FileText(const std::string& path, std::string& absolute) {
  std::string text = DecodeTextFile(ReadJobFile(path));
  absolute = AbsolutePath(path);
  return text;
}

// Options whose value is a file name, a name template, a folder or
// recipients: no control character belongs there. The one that turns up
// is most often a TAB typed where a space should separate two options
// ("-tocsv:t.csv<TAB>-mail:ops@example.com" is one -tocsv value).
bool RefusesControlCharacters(Option option) {
  switch (option) {
    case Option::kUdl: case Option::kSql: case Option::kPostSql: case Option::kPostRecSql:
    case Option::kToCsv: case Option::kToXml: case Option::kToJson: case Option::kXmlTmpl:
    case Option::kMail:
    case Option::kFrTemplate: case Option::kFtpDir: case Option::kSftp: case Option::kFdf:
    case Option::kFtf:
    case Option::kSubject:
    case Option::kMailBody:
      return true;
    default:
      return false;
  }
}

void RefuseControlCharacters(Option option, std::string_view value) {
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool c1 = c == 0xC2 && i + 1 < value.size() &&
                    static_cast<unsigned char>(value[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(value[i + 1]) <= 0x9F;  // U+0080..U+009F
    if (c >= 0x20 && c != 0x7F && !c1) continue;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const unsigned char code = c1 ? static_cast<unsigned char>(value[i + 1]) : c;
    const std::string what = c == '\t' ? std::string("a TAB")
                                       : std::string("the control character U+00") +
                                             kHex[code >> 4] + kHex[code & 0xF];
    throw OptionError(option, "the value " + Shown(value) + " holds " + what +
                                  "; options are separated by spaces, and no file name, "
                                  "folder or recipient holds a TAB or another control "
                                  "character");
  }
}

// The separator and the quote character of -csvformat: one character each,
// "\t" standing for a TAB.
void ApplyCsvFormat(std::string_view value, Job& job) {
  std::vector<std::string> characters;
  for (std::string_view rest = value; !rest.empty();) {
    const bool tab = rest.starts_with("\\t");
    const size_t n = tab ? 2 : CharLength(rest);
    characters.emplace_back(tab ? std::string_view("\t") : rest.substr(0, n));
    rest.remove_prefix(n);
  }
  if (characters.empty())
    throw OptionError(Option::kCsvFormat,
                      "no separator given; for a TAB write -csvformat:\\t (a TAB at the end "
                      "of a line is removed with the line's blanks)");
  if (characters.size() > 2)
    throw OptionError(Option::kCsvFormat,
                      Shown(value) +
                          " is more than a separator and a quote character; write \\t for a "
                          "TAB, and separate options by spaces");
  job.csv_separator = characters[0];
  job.csv_quote = characters.size() == 2 ? characters[1] : std::string();
}

// An integer as the platform's string-to-integer conversion reads it:
// leading blanks, an optional sign, decimal digits or "$"/"0x" and
// hexadecimal digits, nothing after them, within 32 bits.
int32_t StrToInt(std::string_view text) {
  auto fail = [&] {
    return Error(kEConvertError, "'" + std::string(text) + "' is not a valid integer value");
  };
  std::string_view s = text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) throw fail();
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) throw fail();
  // Hexadecimal may spell all 32 bits; decimal must fit the signed range.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  if (magnitude > limit) throw fail();
  const uint32_t bits = uint32_t(magnitude);
  return int32_t(negative ? 0u - bits : bits);
}

// "a=1;b=2": items at ";", each cut at its first "=" into name and value.
// A trailing ";" gives no extra item; an empty item gives an empty name.
void AppendList(std::string_view list, std::vector<NameValue>& out,
                const std::string* default_value) {
  while (!list.empty()) {
    const std::string item = CutField(list, ";", "");
    std::string_view rest(item);
    NameValue pair;
    pair.name = CutField(rest, "=", "");
    pair.value = rest;
    if (default_value && pair.value.empty()) pair.value = *default_value;
    out.push_back(std::move(pair));
  }
}

// "gzip", "zstd" or "none", then for the first two an optional ":LEVEL".
Compression ParseCompression(const std::string& value) {
  std::string_view rest = value;
  const std::string method = CutField(rest, ":", "");
  const std::string level_text(rest);
  struct Method {
    const char* name;
    CompressionMethod method;
    int lowest, highest, usual;
  };
  static constexpr Method kMethods[] = {
      {"gzip", CompressionMethod::kGzip, 1, 9, 6},
      {"zstd", CompressionMethod::kZstd, 1, 19, 3},
  };
  if (IEquals(method, "none")) {
    if (value.find(':') != std::string::npos)
      throw OptionError(Option::kCompress, "none takes no level");
    return {CompressionMethod::kNone, 0};
  }
  for (const Method& m : kMethods) {
    if (!IEquals(method, m.name)) continue;
    if (value.find(':') == std::string::npos) return {m.method, m.usual};
    int level = 0;
    const auto [end, ec] =
        std::from_chars(level_text.data(), level_text.data() + level_text.size(), level);
    if (level_text.empty() || ec != std::errc() || end != level_text.data() + level_text.size() ||
        level < m.lowest || level > m.highest)
      throw OptionError(Option::kCompress,
                        "the level " + Shown(level_text) + " is out of range for " + m.name +
                            ": give a whole number from " + std::to_string(m.lowest) + " to " +
                            std::to_string(m.highest) + " (" + m.name + " alone is level " +
                            std::to_string(m.usual) + ")");
    return {m.method, level};
  }
  throw OptionError(Option::kCompress,
                    Shown(method) + " is no compression method; write gzip or zstd, with a "
                                    "level if wanted (-compress:zstd:9), or none");
}

void CopyServer(const ServerSettings* server, std::string& to, std::string& login,
                std::string& password) {
  if (!server) {
    to.clear(), login.clear(), password.clear();
    return;
  }
  to = server->server;
  login = server->login;
  password = server->password;
}

}  // namespace

void ApplyOption(std::string_view token, Job& job, const OptionContext& ctx) {
  // The name ends at the first ":" outside quotes; the value is the rest of
  // the token as written, quotes and further colons included.
  std::string_view value = token;
  std::string name;
  try {
    name = CutField(value, ":", "\"");
  } catch (const Error&) {
    throw UnclosedQuote(token, value);
  }
  const Settings* settings = ctx.settings;
  const Option option = Lookup(name);
  // "${NAME}" and "${file:PATH}" in a value. The values of -ds and -params
  // end up in a connection string or a statement: they stay as written
  // (checked now) and are expanded only where the job connects or binds, so
  // that no output shows what they expand to. Every other value is
  // expanded now.
  std::string v;
  if (option != Option::kNone) {
    try {
      if (option == Option::kDs || option == Option::kParams) {
        CheckEnvironmentReferences(value);
        v = value;
      } else {
        v = ExpandEnvironment(value);
      }
    } catch (const Error& e) {
      throw OptionError(option, e.message());
    }
  }
  if (RefusesControlCharacters(option)) RefuseControlCharacters(option, v);

  switch (option) {
    case Option::kClear:
      job.starts_afresh = true;
      break;
    case Option::kUdl:
      job.data_link_text = DataLinkToConnectionString(DecodeTextFile(ReadJobFile(v)));
      // Its "${...}" are expanded when the job connects (Connection::Open).
      try {
        CheckEnvironmentReferences(job.data_link_text);
      } catch (const Error& e) {
        throw OptionError(option, CutForMessage(AbsolutePath(v)) + ": " + e.message());
      }
      break;
    case Option::kSql:
      job.sql = FileText(v, job.sql_file);
      break;
    case Option::kPostSql:
      job.post_sql = FileText(v, job.post_sql_file);
      break;
    case Option::kPostRecSql:
      job.per_record_sql = FileText(v, job.per_record_sql_file);
      break;
    case Option::kDs:
      job.data_source = v;
      job.data_source_name = ctx.names ? DisplayNameOf(*ctx.names, v) : v;
      break;
    case Option::kCsvFormat:
      ApplyCsvFormat(v, job);
      break;
    case Option::kCsvCp:
      job.csv_code_page = uint8_t(uint32_t(StrToInt(v)) & 0xFF);
      break;
    case Option::kToCsv:
      job.csv_path = v;
      break;
    case Option::kToXml:
      job.xml_path = v;
      break;
    case Option::kToJson:
      job.json_path = v;
      break;
    case Option::kXmlTmpl:
      job.xml_template = v;
      break;
    case Option::kCsvHeader:
      if (v.empty() && token.find(':') == std::string_view::npos)
        job.csv_header = Switch::kOn;
      else if (IEquals(v, "on"))
        job.csv_header = Switch::kOn;
      else if (IEquals(v, "off"))
        job.csv_header = Switch::kOff;
      else
        throw OptionError(option, Shown(v) + " is neither on nor off");
      break;
    case Option::kCompress:
      job.compression = ParseCompression(v);
      break;
    case Option::kMail:
      // -mail clears the template: one given before it would be lost, and
      // the files mailed instead of the report.
      if (!job.report_template.empty())
        throw Exception("-frtemplate is given before -mail, which clears it; write -mail first: "
                        "-mail:RECIPIENTS -frtemplate:FILE");
      job.mail_to = v;
      break;
    case Option::kFrTemplate:
      ReadJobFile(v);  // a missing template fails now, as a missing SQL file does
      job.report_template = v;
      break;
    case Option::kHttp:
      job.wants_http = true;
      CopyServer(settings ? &settings->http : nullptr, job.http_url, job.http_login,
                 job.http_password);
      break;
    case Option::kFtp:
      job.wants_ftp = true;
      CopyServer(settings ? &settings->ftp : nullptr, job.ftp_server, job.ftp_login,
                 job.ftp_password);
      break;
    case Option::kFtpDir:
      job.wants_ftp = true;
      CopyServer(settings ? &settings->ftp : nullptr, job.ftp_server, job.ftp_login,
                 job.ftp_password);
      job.ftp_folder = v;
      break;
    case Option::kSftp:
      // The target with its folder: a line below that gives no -sftp
      // delivers to the same folder.
      job.wants_sftp = true;
      CopyServer(settings ? &settings->sftp : nullptr, job.sftp_server, job.sftp_login,
                 job.sftp_password);
      job.sftp_folder = v;
      break;
    case Option::kS3:
      // As -sftp: a line below without -s3 delivers under the same prefix.
      job.wants_s3 = true;
      job.s3_prefix = v;
      break;
    case Option::kFields: {
      const std::string default_format = DefaultDateTimeFormat(ctx.format, ctx.joiner);
      AppendList(v, job.csv_fields, &default_format);
      break;
    }
    case Option::kParams:
      AppendList(value, job.sql_parameters, nullptr);
      break;
    case Option::kFdf:
      job.date_pattern = v;
      break;
    case Option::kFtf:
      job.time_pattern = v;
      break;
    case Option::kIfEmpty:
      if (IEquals(v, "error"))
        job.if_empty = IfEmpty::kError;
      else if (IEquals(v, "skip"))
        job.if_empty = IfEmpty::kSkip;
      else if (IEquals(v, "deliver"))
        job.if_empty = IfEmpty::kDeliver;
      else
        throw OptionError(option, Shown(v) + " is not error, skip or deliver");
      break;
    case Option::kSubject:
      job.mail_subject = v;
      break;
    case Option::kMailBody:
      job.mail_body = FileText(v, job.mail_body_file);
      break;
    case Option::kJobTimeout: {
      int32_t seconds = -1;
      try {
        seconds = StrToInt(v);
      } catch (const Error&) {
      }
      if (seconds < 0)
        throw Exception("option -jobtimeout: \"" + v +
                        "\" is no number of seconds (0 for no limit)");
      job.job_timeout = seconds;
      break;
    }
    case Option::kNone:
      // Two spaces in a line give an empty token: nothing. Anything else
      // that is no option is a mistake that must not pass unnoticed.
      if (!token.empty())
        throw Exception("unknown option \"" + CutForMessage(MaskedOption(token)) + "\"");
      break;
  }
}

Error UnclosedQuote(std::string_view text, std::string_view rest) {
  // What a message shows of the text is its rest after the quote; a
  // "Password=" before the quote still makes that rest a secret. The text
  // before holds the quotes already read, which the option's value does
  // not: they are left out to read it as the value reads.
  std::string before(text.substr(0, text.size() - rest.size()));
  std::erase(before, '"');
  return Exception("Can't find 2nd insulator '\"':\r\n" + MaskSecretsAfter(before, rest));
}

std::string MaskedOption(std::string_view token) {
  std::string_view value = token;
  try {
    CutField(value, ":", "\"");
  } catch (const Error&) {
    return MaskSecrets(token);
  }
  if (value.empty()) return MaskSecrets(token);  // no value: the token is one text
  const std::string_view name = token.substr(0, token.size() - value.size());  // with its ":"
  std::string_view bare = name;
  if (Lookup(CutField(bare, ":", "\"")) == Option::kDs)
    return std::string(name) + MaskSecrets(value, SecretText::kServer);
  return MaskSecrets(name) + MaskSecretsAfter(name, value);
}

std::string MaskedListLine(std::string_view line) {
  std::string out;
  std::string_view rest(line);
  try {
    for (bool first = true; !rest.empty(); first = false) {
      const std::string token = CutField(rest, " ", "\"");
      if (!first) out += ' ';
      out += MaskedOption(token);
    }
  } catch (const Error&) {
    return MaskSecrets(line);  // an unclosed quote: no job came from the line
  }
  return out;
}

bool IsJobOption(std::string_view token) { return !JobOptionName(token).empty(); }

std::string_view JobOptionName(std::string_view token) {
  std::string_view rest = token;
  try {
    return NameOf(Lookup(CutField(rest, ":", "\"")));
  } catch (const Error&) {
    throw UnclosedQuote(token, rest);
  }
}

void SetDefaultFormats(Job& job) {
  job.date_pattern = "YYYYMMDD";
  job.time_pattern = "HHNNSSZZZ";
  job.csv_separator = std::string(";");
  job.csv_quote = std::string("\"");
  job.csv_code_page = 1;
  job.if_empty = IfEmpty::kError;
  job.csv_header = Switch::kOff;
  job.compression = {CompressionMethod::kNone, 0};
}

}  // namespace ostrevane
