#include "delivery/mime_text.h"

#include <gtest/gtest.h>

namespace ostrevane::delivery {
namespace {

TEST(MimeTextTest, Base64PadsAndCutsLines) {
  struct { std::string in; size_t line; std::string out; } cases[] = {
      {"", 0, ""},
      {"f", 0, "Zg=="},
      {"fo", 0, "Zm8="},
      {"foo", 0, "Zm9v"},
      {std::string("\0\xff\x10", 3), 0, "AP8Q"},
      {"foobar", 4, "Zm9v\r\nYmFy\r\n"},
      {"fooba", 4, "Zm9v\r\nYmE=\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64(c.in, c.line), c.out) << c.in;
}

TEST(MimeTextTest, HeaderValuesAreEncodedOnlyWhenNotAscii) {
  EXPECT_EQ(EncodeHeaderValue("Nightly export"), "Nightly export");
  EXPECT_EQ(EncodeHeaderValue("a\r\nBcc: x@y"), "a  Bcc: x@y");  // no header injection
  EXPECT_EQ(EncodeHeaderValue("Grüße"), "=?UTF-8?B?R3LDvMOfZQ==?=");
}

TEST(MimeTextTest, LongValuesBecomeFoldedWordsThatNeverSplitACharacter) {
  std::string subject;
  for (int i = 0; i < 40; ++i) subject += "é";  // 80 bytes of two-byte characters
  const std::string encoded = EncodeHeaderValue(subject);
  size_t start = 0, words = 0;
  while (start < encoded.size()) {
    size_t end = encoded.find("\r\n ", start);
    std::string word = encoded.substr(start, end == std::string::npos ? std::string::npos : end - start);
    EXPECT_LE(word.size(), 75u) << word;
    EXPECT_EQ(word.rfind("=?UTF-8?B?", 0), 0u) << word;
    ++words;
    start = end == std::string::npos ? encoded.size() : end + 3;
  }
  EXPECT_EQ(words, 2u);
  // 45 bytes would cut the 23rd character: the first word holds 44.
  EXPECT_EQ(encoded.substr(0, encoded.find("?=") + 2), "=?UTF-8?B?" + Base64(subject.substr(0, 44)) + "?=");
}

}  // namespace
}  // namespace ostrevane::delivery
