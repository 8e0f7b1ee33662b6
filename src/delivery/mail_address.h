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

// An address for a header: "a@b" or "Name <a@b>", the name quoted when it
// holds special characters and encoded (RFC 2047) when it is not ASCII.
std::string FormatAddress(const MailAddress& a);

}  // namespace ostrevane::delivery
