#include "delivery/mime_message.h"

#include <gtest/gtest.h>

#include "delivery/mime_text.h"
#include "testing/temp_dir.h"

namespace ostrevane::delivery {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Reads everything from the current position in pieces of `step` bytes.
std::string ReadAll(UploadSource& source, size_t step) {
  std::string out, buffer(step, '\0');
  while (true) {
    const size_t n = UploadSource::ReadCallback(buffer.data(), 1, step, &source);
    if (n == 0 || n == CURL_READFUNC_ABORT) break;
    out.append(buffer, 0, n);
  }
  return out;
}

TEST(MimeMessageTest, FilesAreStreamedAsBase64LinesAndRewindAnywhere) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 200000; ++i) big += char(i * 7 + i / 256);
  const std::string contents[] = {"", "a", std::string(57, 'x'), std::string(58, 'y'), big};
  MimeMessage message({"Subject: test"});
  std::string expected = "Subject: test\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;"
                         " boundary=\"" + message.boundary() + "\"\r\n\r\n";
  for (size_t i = 0; i < std::size(contents); ++i) {
    const std::string path = dir / ("f" + std::to_string(i));
    WriteFile(path, contents[i]);
    message.AddFile({"Content-Type: text/csv"}, std::make_unique<FileSource>(path));
    expected += "--" + message.boundary() +
                "\r\nContent-Type: text/csv\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                Base64(contents[i], 76);
    EXPECT_EQ(Base64LinesSize(curl_off_t(contents[i].size())),
              curl_off_t(Base64(contents[i], 76).size()));
  }
  message.Finish();
  expected += "--" + message.boundary() + "--\r\n";
  ASSERT_EQ(message.size(), curl_off_t(expected.size()));
  EXPECT_EQ(ReadAll(message, 1000), expected);
  for (size_t offset : {size_t(0), size_t(5), expected.size() / 2, expected.size() / 3 + 1,
                        expected.size() - 10, expected.size()}) {
    ASSERT_EQ(UploadSource::SeekCallback(&message, curl_off_t(offset), SEEK_SET), CURL_SEEKFUNC_OK);
    EXPECT_TRUE(ReadAll(message, 4093) == expected.substr(offset)) << offset;
  }
  EXPECT_EQ(message.boundary().find_first_not_of("=_0123456789abcdef"), std::string::npos);
}

}  // namespace
}  // namespace ostrevane::delivery
