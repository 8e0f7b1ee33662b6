#include "delivery/mail_address.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace ostrevane::delivery {
namespace {

std::string Show(const std::vector<MailAddress>& list) {
  std::string s;
  for (const MailAddress& a : list) s += "[" + a.name + "|" + a.address + "]";
  return s;
}

TEST(AddressListTest, SplitsAtCommasAndSemicolonsOutsideQuotesAndBrackets) {
  struct { const char* text; const char* parsed; } cases[] = {
      {"a@x.org", "[|a@x.org]"},
      {"a@x.org,b@y.org", "[|a@x.org][|b@y.org]"},
      {"a@x.org; b@y.org", "[|a@x.org][|b@y.org]"},
      {" a@x.org ,, ;b@y.org; ", "[|a@x.org][|b@y.org]"},
      {"Ann Lee <ann@x.org>", "[Ann Lee|ann@x.org]"},
      {"\"Lee, Ann\" <ann@x.org>; bob@y.org", "[Lee, Ann|ann@x.org][|bob@y.org]"},
      {"\"Say \\\"hi\\\"; now\" <q@x.org>", "[Say \"hi\"; now|q@x.org]"},
      {"<only@x.org>", "[|only@x.org]"},
      {"ann@x.org (Ann, at work), (just a comment); bob@y.org", "[|ann@x.org][|bob@y.org]"},
      {"Ann (boss) <ann@x.org>", "[Ann|ann@x.org]"},
      {"Zoë Müller <zoe@x.de>", "[Zoë Müller|zoe@x.de]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(ParseAddressList(c.text)), c.parsed) << c.text;
}

TEST(AddressListTest, RejectsWhatCannotBeAnAddressWithASendingError) {
  const char* cases[] = {
      "", " , ; ", "(nobody)",                        // nothing left after splitting
      "\"unclosed <a@x.org>", "Ann <a@x.org", "a@x.org (open",  // unbalanced
      "Ann Lee a@x.org", "<a b@x.org>", "<a@x.org> trailing", "a@x.org>",
      "a@x.org\r\nRCPT TO:<evil@y.org>",
  };
  for (const char* text : cases) {
    try {
      ParseAddressList(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.message().rfind("Sending Error: ", 0), 0u) << text << ": " << e.message();
    }
  }
}

TEST(AddressListTest, FormatsHeaderAddresses) {
  struct { MailAddress a; const char* header; } cases[] = {
      {{"", "a@x.org"}, "a@x.org"},
      {{"Ann Lee", "a@x.org"}, "Ann Lee <a@x.org>"},
      {{"Lee, Ann", "a@x.org"}, "\"Lee, Ann\" <a@x.org>"},
      {{"Say \"hi\"", "a@x.org"}, "\"Say \\\"hi\\\"\" <a@x.org>"},
      {{"Zoë", "z@x.de"}, "=?UTF-8?B?Wm/Dqw==?= <z@x.de>"},
      // Plain words stay plain; a run of others is encoded with its spaces.
      {{"Zoë Ärger von Öster", "z@x.de"},
       "=?UTF-8?B?Wm/DqyDDhHJnZXI=?= von =?UTF-8?B?w5ZzdGVy?= <z@x.de>"},
  };
  for (const auto& c : cases) {
    std::string header;
    for (const std::string& word : AddressWords(c.a)) header += (header.empty() ? "" : " ") + word;
    EXPECT_EQ(header, c.header) << c.header;
  }
}

TEST(AddressListTest, DomainsOutsideAsciiTakeTheirIdnaForm) {
  EXPECT_EQ(AsciiAddress("ops@example.org"), "ops@example.org");
  EXPECT_EQ(AsciiAddress("ops@bücher.example"), "ops@xn--bcher-kva.example");
  for (const char* bad : {"jörg@example.org", "jörg@bücher.example"}) {
    try {
      AsciiAddress(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const Error& e) {
      EXPECT_NE(e.message().find(std::string("\"") + bad + "\" has letters outside ASCII"),
                std::string::npos) << e.message();
    }
  }
}

}  // namespace
}  // namespace ostrevane::delivery
