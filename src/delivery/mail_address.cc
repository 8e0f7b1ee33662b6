#include "delivery/mail_address.h"

#include <algorithm>

#include "common/error.h"
#include "common/text.h"
#include "delivery/mime_text.h"
#include "delivery/punycode.h"

namespace ostrevane::delivery {
namespace {

[[noreturn]] void Invalid(std::string_view entry, const char* why) {
  throw Exception("Sending Error: invalid recipient \"" + CutForMessage(Trim(entry)) +
                  "\": " + why);
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }

// One entry between separators; quotes, comments and brackets are balanced.
void ParseEntry(std::string_view entry, std::vector<MailAddress>& out) {
  std::string display;   // name text, quotes removed
  std::string bare;      // the text as written, comments removed
  std::string angle;
  bool has_angle = false, after_angle = false, bare_space = false;
  for (size_t i = 0; i < entry.size(); ++i) {
    char c = entry[i];
    if (c == '(') {  // comment, may nest; dropped
      int depth = 1;
      for (++i; i < entry.size() && depth > 0; ++i) {
        if (entry[i] == '\\') ++i;
        else if (entry[i] == '(') ++depth;
        else if (entry[i] == ')') --depth;
      }
      --i;
      bare += ' ';
      continue;
    }
    if (after_angle) {
      if (!IsSpace(c)) Invalid(entry, "text after the address");
      continue;
    }
    if (c == '"') {
      bare += c;
      for (++i; i < entry.size() && entry[i] != '"'; ++i) {
        if (entry[i] == '\\' && i + 1 < entry.size()) {
          bare += entry[i];
          ++i;
        }
        bare += entry[i];
        display += entry[i];
      }
      bare += '"';
      continue;
    }
    if (c == '<') {
      if (has_angle) Invalid(entry, "two addresses in angle brackets");
      size_t end = entry.find('>', i);
      angle.assign(entry.substr(i + 1, end - i - 1));
      has_angle = after_angle = true;
      i = end;
      continue;
    }
    if (c == '>') Invalid(entry, "\">\" without \"<\"");
    if (IsControl(c) && !IsSpace(c)) Invalid(entry, "control character");
    if (IsSpace(c) && !Trim(bare).empty()) bare_space = true;
    bare += c;
    display += c;
  }

  MailAddress a;
  if (has_angle) {
    a.address = Trim(angle);
    a.name = Trim(display);
    if (a.address.empty()) Invalid(entry, "empty address");
  } else {
    a.address = Trim(bare);
    if (a.address.empty()) return;  // nothing but spaces or comments
    // Spaces inside the trimmed text that are not in quotes: "John a@b".
    if (bare_space) {
      bool quoted = false;
      for (char c : a.address) {
        if (c == '"') quoted = !quoted;
        if (IsSpace(c) && !quoted) Invalid(entry, "spaces in the address");
      }
    }
  }
  for (char c : a.address) {
    if (IsControl(c) || c == '<' || c == '>') Invalid(entry, "character not allowed in an address");
  }
  if (has_angle) {
    for (char c : a.address)
      if (IsSpace(c)) Invalid(entry, "spaces in the address");
  }
  out.push_back(std::move(a));
}

}  // namespace

std::vector<MailAddress> ParseAddressList(std::string_view text) {
  std::vector<MailAddress> out;
  size_t start = 0;
  bool quoted = false, angle = false;
  int comment = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const char c = end ? ',' : text[i];
    if (!end && c == '\\' && (quoted || comment > 0)) {
      ++i;
      continue;
    }
    if (quoted) {
      if (c == '"') quoted = false;
      else if (end) Invalid(text.substr(start), "unclosed quote");
      continue;
    }
    if (comment > 0) {
      if (c == '(') ++comment;
      else if (c == ')') --comment;
      else if (end) Invalid(text.substr(start), "unclosed comment");
      continue;
    }
    if (angle) {
      if (c == '>') angle = false;
      else if (end) Invalid(text.substr(start), "unclosed \"<\"");
      continue;
    }
    if (c == '"') quoted = true;
    else if (c == '(') comment = 1;
    else if (c == '<') angle = true;
    else if (c == ',' || c == ';') {
      ParseEntry(text.substr(start, i - start), out);
      start = i + 1;
    }
  }
  if (out.empty())
    throw Exception("Sending Error: no recipient address in \"" + CutForMessage(text) + "\"");
  return out;
}

std::vector<std::string> AddressWords(const MailAddress& a) {
  const std::string bracketed = "<" + a.address + ">";
  if (a.name.empty()) return {a.address};
  if (!IsAscii(a.name)) {
    // Plain ASCII words of the name stay as they are; each run of other
    // words becomes encoded words, the spaces inside the run encoded with
    // it. Readers drop the blanks between two encoded words, some (Python's
    // email package) put a space there: next to a plain word both read the
    // space that is written. Short words leave room for the address.
    std::vector<std::string> words;
    std::string run;
    auto flush = [&] {
      if (run.empty()) return;
      for (std::string& w : EncodedWords(run, 60, 60)) words.push_back(std::move(w));
      run.clear();
    };
    std::string_view rest = a.name;
    while (true) {
      const size_t space = std::min(rest.find(' '), rest.size());
      const std::string_view word = rest.substr(0, space);
      bool plain = !word.empty() && IsAscii(word) && word.find("=?") == std::string_view::npos;
      for (char c : word)
        if (IsControl(c) || std::string_view("()<>[]:;@\\,.\"").find(c) != std::string_view::npos)
          plain = false;
      if (plain) {
        flush();
        words.emplace_back(word);
      } else {
        if (!run.empty()) run += ' ';
        run += word;
      }
      if (space == rest.size()) break;
      rest.remove_prefix(space + 1);
    }
    flush();
    words.push_back(bracketed);
    return words;
  }
  std::string name;
  bool special = false;
  for (char c : a.name) {
    if (std::string_view("()<>[]:;@\\,.\"").find(c) != std::string_view::npos) special = true;
    if (c == '\\' || c == '"') name += '\\';
    if (c == '\r' || c == '\n') c = ' ';
    name += c;
  }
  return {special ? "\"" + name + "\"" : name, bracketed};
}

std::string AsciiAddress(std::string_view address) {
  if (IsAscii(address)) return std::string(address);
  const size_t at = address.rfind('@');
  const std::string_view local = address.substr(0, at == std::string_view::npos ? 0 : at);
  if (at == std::string_view::npos || !IsAscii(local))
    throw Exception("Sending Error: the address \"" + CutForMessage(address) +
                    "\" has letters outside ASCII before its \"@\"; mail is sent without the "
                    "SMTPUTF8 extension, which such an address needs");
  const std::optional<std::string> domain = AsciiDomain(address.substr(at + 1));
  if (!domain)
    throw Exception("Sending Error: the domain of the address \"" + CutForMessage(address) +
                    "\" has no IDNA form");
  return std::string(local) + "@" + *domain;
}

}  // namespace ostrevane::delivery
