// The recipients of a mail as the job gives them: one text holding
// addresses separated by commas or semicolons, each a bare address or a
// display name with the address in angle brackets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane::delivery {

struct MailAddress {
  std::string name;     // display name, unquoted; may be empty
  std::string address;  // what goes into RCPT TO
};

// Splits at "," and ";" outside quotes, comments and angle brackets.
// Accepts "a@b", "Name <a@b>", "\"Last, First\" <a@b>" and "<a@b>";
// comments in parentheses are dropped; empty entries are skipped. Throws
// Exception("Sending Error: ...") for an entry that cannot be an address
// (an unclosed quote, comment or bracket, spaces or control characters in
// the address, text after the closing bracket).
std::vector<MailAddress> ParseAddressList(std::string_view text);

// An address for a header as words that a fold may separate: "a@b", or
// the name and "<a@b>", the name quoted when it holds special characters
// and as encoded words (RFC 2047) when it is not ASCII.
std::vector<std::string> AddressWords(const MailAddress& a);

// An address as a server without the SMTPUTF8 extension takes it, and as
// a header must hold it: a domain outside ASCII in its IDNA form
// ("xn--..."). A local part outside ASCII has no such form: throws
// Exception("Sending Error: ...") naming the address.
std::string AsciiAddress(std::string_view address);

}  // namespace ostrevane::delivery
