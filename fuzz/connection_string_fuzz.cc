// Data-link text and secret masking. The input is cut into a prefix, a
// secret entry and a suffix; the entry's value is a secret of at least six
// bytes in one of the quoting forms, or the password of a URL's login in a
// value (dbname=postgresql://ann:SECRET@db/sales). Whenever the program's
// own parser reads that secret as a password, and always for the URL, the
// masked text must not show it.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "common/error.h"
#include "common/text.h"
#include "control/job_files.h"
#include "data/connection_string.h"
#include "fuzz_support.h"

using namespace ostrevane;

namespace {

// The documented secret keys: every key holding "password", "passwd",
// "pwd", "secret" or "token", in any case.
bool IsPasswordKey(const std::string& key) {
  const std::string lower = ToLowerAscii(key);
  for (const char* word : {"password", "passwd", "pwd", "secret", "token"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

// A secret made of the fuzzed bytes with every byte that would end or open
// a value mapped onto a letter.
std::string MakeSecret(FuzzedDataProvider& input) {
  std::string secret = "Zq";
  for (char c : input.ConsumeRandomLengthString(24)) {
    const bool special = c == ';' || c == '"' || c == '\'' || c == '{' || c == '}' || c == '=' ||
                         c == '/' || c == '?' || c == '#' || c == '@' || c == '<' || c == '>' ||
                         static_cast<unsigned char>(c) <= ' ';
    secret += special ? char('a' + (static_cast<unsigned char>(c) % 26)) : c;
  }
  while (secret.size() < 6) secret += '7';
  return secret;
}

std::string Entry(FuzzedDataProvider& input, const std::string& secret, bool& url) {
  static const char* const kKeys[] = {"Password", "PWD", "sslpassword", " pwd ",
                                      "Jet OLEDB:Database Password", "client_secret"};
  std::string entry = kKeys[input.ConsumeIntegralInRange<size_t>(0, 5)];
  entry += input.ConsumeBool() ? "=" : " = ";
  url = false;
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return entry + secret;
    case 1:
      return entry + "\"" + secret + "\"";
    case 2:
      return entry + "'" + secret + "'";
    case 3:
      return entry + "{" + secret + "}";
    default:
      url = true;
      return "dbname=postgresql://ann:" + secret + "@db/sales";
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string secret = MakeSecret(input);
  bool url = false;
  const std::string entry = Entry(input, secret, url);
  const std::string prefix = input.ConsumeRandomLengthString(400);
  const bool separated = input.ConsumeBool();
  const std::string suffix = input.ConsumeRemainingBytesAsString();

  // The whole input as a data-link file, in each encoding.
  for (TextEncoding encoding :
       {TextEncoding::kAnsi, TextEncoding::kUtf8, TextEncoding::kUtf16Le, TextEncoding::kUtf16Be}) {
    try {
      const std::string text =
          DataLinkToConnectionString(DecodeText(prefix + entry + suffix, encoding));
      const ConnectionString parsed(text);
      parsed.Provider();
      MaskSecrets(text);
    } catch (const Error&) {
    }
  }

  const std::string text = prefix + (separated ? ";" : "") + entry + ";" + suffix;
  // The secret may appear in the fuzzed text for other reasons: masking
  // leaves text that merely equals a password alone.
  if (prefix.find(secret) != std::string::npos || suffix.find(secret) != std::string::npos)
    return 0;
  bool read_as_password = url;
  const ConnectionString parsed(text);
  for (const auto& [key, value] : parsed.entries())
    read_as_password |= IsPasswordKey(key) && value.find(secret) != std::string::npos;
  if (!read_as_password) return 0;
  const std::string masked = MaskSecrets(text);
  if (masked.find(secret) != std::string::npos) {
    std::fprintf(stderr, "text:   %s\nmasked: %s\n", fuzz::Printable(text).c_str(),
                 fuzz::Printable(masked).c_str());
    fuzz::OracleFailed("a password read by the parser is visible after masking");
  }
  return 0;
}
