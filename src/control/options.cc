#include "control/options.h"

#include <charconv>
#include <cstdint>

#include "common/error.h"
#include "common/text.h"
#include "control/cut_field.h"
#include "control/job_files.h"

namespace ostrevane {
namespace {

enum class Option {
  kClear, kUdl, kSql, kPostSql, kPostRecSql, kDs, kCsvFormat, kCsvCp, kToCsv, kToXml,
  kXmlTmpl, kMail, kFrTemplate, kHttp, kFtp, kFtpDir, kSftp, kFields, kParams, kFdf, kFtf, kIfEmpty,
  kJobTimeout, kNone
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
    {"-sftp", Option::kSftp},
    {"-fields", Option::kFields},     {"-params", Option::kParams},
    {"-fdf", Option::kFdf},           {"-ftf", Option::kFtf},
    {"-ifempty", Option::kIfEmpty},   {"-jobtimeout", Option::kJobTimeout},
};

Option Lookup(std::string_view name) {
  for (const OptionName& o : kOptions)
    if (IEquals(name, o.name)) return o.option;
  return Option::kNone;
}

std::string FileText(const std::string& path) { return DecodeTextFile(ReadJobFile(path)); }

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

// Length in bytes of the UTF-8 character that starts `s` (1 for a stray byte).
size_t CharLength(std::string_view s) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return n <= s.size() ? n : 1;
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
  const std::string name = CutField(value, ":", "\"");
  const std::string v(value);
  const Settings* settings = ctx.settings;

  switch (Lookup(name)) {
    case Option::kClear:
      job.starts_afresh = true;
      break;
    case Option::kUdl:
      job.data_link_text = DataLinkToConnectionString(FileText(v));
      break;
    case Option::kSql:
      job.sql = FileText(v);
      break;
    case Option::kPostSql:
      job.post_sql = FileText(v);
      break;
    case Option::kPostRecSql:
      job.per_record_sql = FileText(v);
      break;
    case Option::kDs:
      job.data_source = v;
      job.data_source_name = ctx.names ? DisplayNameOf(*ctx.names, v) : v;
      break;
    case Option::kCsvFormat:
      if (!v.empty()) {
        const size_t first = CharLength(v);
        job.csv_separator = v.substr(0, first);
        const std::string_view second = std::string_view(v).substr(first);
        job.csv_quote =
            second.empty() ? std::string() : std::string(second.substr(0, CharLength(second)));
      }
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
    case Option::kXmlTmpl:
      job.xml_template = v;
      break;
    case Option::kMail:
      job.mail_to = v;
      job.report_template.clear();  // a -frtemplate must follow -mail
      break;
    case Option::kFrTemplate:
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
    case Option::kFields: {
      const std::string default_format = DefaultDateTimeFormat(ctx.format, ctx.joiner);
      AppendList(value, job.csv_fields, &default_format);
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
      else
        throw Exception("option -ifempty: \"" + v + "\" is neither error nor skip");
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
      if (!token.empty()) throw Exception("unknown option \"" + std::string(token) + "\"");
      break;
  }
}

bool IsJobOption(std::string_view token) {
  std::string_view rest = token;
  return Lookup(CutField(rest, ":", "\"")) != Option::kNone;
}

void SetDefaultFormats(Job& job) {
  job.date_pattern = "YYYYMMDD";
  job.time_pattern = "HHNNSSZZZ";
  job.csv_separator = std::string(";");
  job.csv_quote = std::string("\"");
  job.csv_code_page = 1;
  job.if_empty = IfEmpty::kError;
}

}  // namespace ostrevane
