// Secrets in what the program shows. A secret is placed in one of the ways
// users write one (a password key in -ds, a data-link file or an unknown
// option; a secret -params name; a login in a server URL of settings.ini;
// inside an unclosed quote), between fuzzed options; the list is read and
// expanded with every mistake collected, as -check does. Oracle: the
// secret appears in none of the -check lines, the collected messages, the
// masked list lines (RESULT.json) and the messages about bad servers.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/error.h"
#include "control/list_file.h"
#include "control/options.h"
#include "delivery/ftp_put.h"
#include "delivery/sftp_put.h"
#include "fuzz_support.h"

using namespace ostrevane;

namespace {

class FixedClock : public Clock {
 public:
  DateTime Now() const override { return 45000.5; }
};

// A secret made of the fuzzed bytes with every byte that would end a value,
// a token, a line or a URL's host part mapped onto a letter.
std::string MakeSecret(FuzzedDataProvider& input) {
  std::string secret = "Zq";
  for (char c : input.ConsumeRandomLengthString(24)) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool special = std::string_view(";\"'{}=/?#@<>\\").find(c) != std::string_view::npos ||
                         u <= ' ' || u >= 0x7F;
    secret += special ? char('a' + u % 26) : c;
  }
  while (secret.size() < 6) secret += '7';
  return secret;
}

// Fuzzed options around the secret's own: no quote (it would join them to
// the secret's token), no line end and no path outside the scratch folder.
std::string Surrounding(std::string text) {
  for (char& c : text)
    if (c == '"' || c == '\r' || c == '\n' || c == '/' || c == '\\') c = '_';
  return text;
}

std::string Styled(FuzzedDataProvider& input, const std::string& secret) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return secret;
    case 1: return "'" + secret + "'";
    case 2: return "{" + secret + "}";
    default: return "\"" + secret + "\"";
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Relative names in options resolve inside the scratch folder.
  if (chdir(fuzz::ScratchFolder().c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string secret = MakeSecret(input);
  static const char* const kKeys[] = {"Password", "PWD",       "sslpassword", "pwd",
                                      "MyAppPassword", "api_token", "client_secret"};
  const std::string key = kKeys[input.ConsumeIntegralInRange<size_t>(0, std::size(kKeys) - 1)];
  const int form = input.ConsumeIntegralInRange(0, 7);
  const std::string styled = Styled(input, secret);
  const std::string before = Surrounding(input.ConsumeRandomLengthString(200));
  const std::string after = Surrounding(input.ConsumeRemainingBytesAsString());
  if (before.find(secret) != std::string::npos || after.find(secret) != std::string::npos)
    return 0;

  Settings settings;
  settings.http.server = "http://example.invalid/post";
  settings.ftp.server = "ftp.example.invalid";
  settings.sftp.server = "ssh.example.invalid";
  fuzz::WriteScratchFile("q.sql", "select 1");
  fuzz::WriteScratchFile("c.udl", "Provider=PostgreSQL;User ID=u");
  std::string option;
  switch (form) {
    case 0: option = "-udl:c.udl -ds:\"db:5432;" + key + "=" + secret + "\""; break;
    case 1: option = "-params:region=n;" + key + "=" + secret; break;
    case 2:
      fuzz::WriteScratchFile("s.udl", "[oledb]\r\nProvider=PostgreSQL;Data Source=db;" + key +
                                          "=" + styled + ";dbname=postgresql://ann:" + secret +
                                          "@db/sales;User ID=u\r\n");
      option = "-udl:s.udl";
      break;
    case 3: option = "-dss:x;" + key + "=" + secret; break;
    case 4: option = "-ds:\"x;" + key + "=" + secret + " y"; break;
    case 5: option = "-ds:x;" + key + "=\"" + secret + " y"; break;
    case 6:
      settings.http.server = "https://ann:" + secret + "@files.example.invalid/up";
      settings.ftp.server = "ann:" + secret + "@ftp.example.invalid";
      settings.sftp.server = "sftp://ann:" + secret + "@ssh.example.invalid";
      option = "-udl:c.udl -tocsv:o.csv -http -ftp -sftp";
      break;
    default: option = "-udl:c.udl -ds:ann:" + secret + "@db.example.invalid"; break;
  }
  const std::string list = before + " " + option + " " + after + "\n-sql:q.sql\n";
  const std::string path = fuzz::WriteScratchFile("jobs.lst", list);

  const NamesTable names = {{"Sales", "salesdb"}};
  OptionContext ctx;
  ctx.settings = &settings;
  ctx.names = &names;
  ctx.format = DefaultFormatSettings();

  std::vector<std::string> shown;
  try {
    std::vector<Job> jobs = ReadListLines(path, ctx, &shown);
    ExpandList(jobs, ctx, FixedClock(), path, &shown);
    MailSettings mail;
    for (const std::string& line : DescribeJobs(jobs, mail).lines) shown.push_back(line);
    for (const Job& job : jobs) shown.push_back(MaskedListLine(job.list_line));
  } catch (const Error& e) {
    shown.push_back(e.message());  // what ends a run is shown too
  }
  for (const std::string& server : {settings.ftp.server, settings.sftp.server}) {
    try {
      delivery::FtpServerUrl(server, delivery::FtpSecurity::kPlain);
      delivery::SftpEndpointFor(server, 22);
    } catch (const Error& e) {
      shown.push_back(e.message());
    }
  }
  for (const std::string& text : shown) {
    if (text.find(secret) == std::string::npos) continue;
    std::fprintf(stderr, "list:  %s\nshown: %s\n", fuzz::Printable(list).c_str(),
                 fuzz::Printable(text).c_str());
    fuzz::OracleFailed("a secret is visible in the program's output");
  }
  return 0;
}
