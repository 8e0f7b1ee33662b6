#include "common/base64.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(Base64Test, PadsAndCutsLines) {
  struct { std::string in; size_t line; std::string out; } cases[] = {
      {"", 0, ""},
      {"f", 0, "Zg=="},
      {"fo", 0, "Zm8="},
      {"foo", 0, "Zm9v"},
      {std::string("\0\xff\x10", 3), 0, "AP8Q"},
      {"foobar", 4, "Zm9v\r\nYmFy\r\n"},
      {"fooba", 4, "Zm9v\r\nYmE=\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64(c.in, c.line), c.out) << c.in;
    if (c.line != 0) continue;
    std::string appended = "x";
    AppendBase64(appended, c.in);
    EXPECT_EQ(appended, "x" + c.out) << c.in;
  }
}

}  // namespace
}  // namespace ostrevane
