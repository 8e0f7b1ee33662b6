#include "delivery/mime_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace ostrevane::delivery {
namespace {

// Every line of a header no longer than 78 characters, every encoded word
// no longer than 75.
void ExpectFolded(const std::string& header) {
  size_t start = 0;
  while (true) {
    const size_t end = header.find("\r\n", start);
    const std::string line = header.substr(start, end == std::string::npos ? end : end - start);
    EXPECT_LE(line.size(), kHeaderLineLength) << line;
    if (start > 0) {
      EXPECT_TRUE(line.size() > 1 && line[0] == ' ' && line[1] != ' ') << "fold: " << line;
    }
    for (size_t w = line.find("=?"); w != std::string::npos; w = line.find("=?", w + 2)) {
      const size_t close = line.find("?=", w + 10);
      if (line.compare(w, 10, "=?UTF-8?B?") == 0 && close != std::string::npos) {
        EXPECT_LE(close + 2 - w, kEncodedWordLength) << line;
      }
    }
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

TEST(MimeTextTest, UnstructuredHeadersAreEncodedOnlyWhenTheyMustBe) {
  struct {
    std::string text, header;
  } cases[] = {
      {"Nightly export", "Subject: Nightly export"},
      {"a\r\nBcc: x@y", "Subject: a  Bcc: x@y"},  // no header injection
      {"Grüße", "Subject: =?UTF-8?B?R3LDvMOfZQ==?="},
      {"a =?x?= b", "Subject: =?UTF-8?B?YSA9P3g/PSBi?="},  // would read as an encoded word
      // Blanks at either end, which readers drop from a plain value.
      {"  Nightly  ", "Subject: =?UTF-8?B?ICBOaWdodGx5ICA=?="},
      {"Nightly ", "Subject: =?UTF-8?B?TmlnaHRseSA=?="},
      {" ", "Subject: =?UTF-8?B?IA==?="},
      {"", "Subject: "},
      {std::string(60, 'a') + " " + std::string(30, 'b'),
       "Subject: " + std::string(60, 'a') + "\r\n " + std::string(30, 'b')},
  };
  for (const auto& c : cases) EXPECT_EQ(UnstructuredHeader("Subject", c.text), c.header) << c.text;
}

TEST(MimeTextTest, LongHeadersAreFoldedAtWordsThatNeverSplitACharacter) {
  std::string subject;
  for (int i = 0; i < 60; ++i) subject += "é";     // two-byte characters
  for (int i = 0; i < 20; ++i) subject += "日本😀";  // three and four bytes
  const std::string header = UnstructuredHeader("Subject", subject);
  ExpectFolded(header);
  // The words decode to the text: each holds whole characters.
  std::string decoded;
  for (size_t w = header.find("=?UTF-8?B?"); w != std::string::npos;
       w = header.find("=?UTF-8?B?", w + 1)) {
    const size_t close = header.find("?=", w + 10);
    const std::string b64 = header.substr(w + 10, close - w - 10);
    // Base64 of whole characters: decode through the encoder's own alphabet.
    std::string bytes;
    unsigned acc = 0;
    int bits = 0;
    for (char c : b64) {
      if (c == '=') break;
      const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      acc = acc << 6 | unsigned(std::string_view(digits).find(c));
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        bytes += char((acc >> bits) & 0xFF);
      }
    }
    EXPECT_TRUE(bytes.empty() || (static_cast<unsigned char>(bytes[0]) & 0xC0) != 0x80) << b64;
    decoded += bytes;
  }
  EXPECT_EQ(decoded, subject);
}

TEST(MimeTextTest, ParametersTakeTheRfc2231FormWhenNotPlain) {
  struct {
    std::string value;
    std::vector<std::string> params;
  } cases[] = {
      {"first.csv", {"filename=\"first.csv\""}},
      {"Umsätze.csv", {"filename*=UTF-8''Ums%C3%A4tze.csv"}},
      {";\"'=?x?=.csv", {"filename*=UTF-8''%3B%22%27%3D%3Fx%3F%3D.csv"}},
      {"报告报告报告报告报告报告.csv",
       {"filename*0*=UTF-8''%E6%8A%A5%E5%91%8A%E6%8A%A5%E5%91%8A%E6%8A%A5%E5%91%8A",
        "filename*1*=%E6%8A%A5%E5%91%8A%E6%8A%A5%E5%91%8A%E6%8A%A5%E5%91%8A.csv"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MimeParameter("filename", c.value), c.params) << c.value;
    std::vector<std::string> words = {"attachment;"};
    for (const std::string& p : MimeParameter("filename", c.value)) words.push_back(p + ";");
    ExpectFolded(FoldedHeader("Content-Disposition", words));
  }
  EXPECT_EQ(AsciiFileName("报告 März;\"'=?x?=.csv"), "__ M_rz;_'=_x?=.csv");
}

}  // namespace
}  // namespace ostrevane::delivery
