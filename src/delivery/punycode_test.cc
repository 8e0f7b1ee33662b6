#include "delivery/punycode.h"

#include <gtest/gtest.h>

namespace ostrevane::delivery {
namespace {

TEST(PunycodeTest, SampleStringsOfTheAlgorithmsDefinition) {
  struct {
    const char* what;
    const char* in;
    const char* out;
  } cases[] = {
      {"Arabic (Egyptian)", "ليهمابتكلموشعربي؟", "egbpdaj6bu4bxfgehfvwxn"},
      {"Chinese (simplified)", "他们为什么不说中文", "ihqwcrb4cv8a8dqg056pqjye"},
      {"Chinese (traditional)", "他們爲什麽不說中文", "ihqwctvzc91f659drss3x8bo0yb"},
      {"Czech", "Pročprostěnemluvíčesky", "Proprostnemluvesky-uyb24dma41a"},
      {"Hebrew", "למההםפשוטלאמדבריםעברית", "4dbcagdahymbxekheh6e0a7fei0b"},
      {"Japanese with digits and Latin", "3年B組金八先生", "3B-ww4c5e180e575a65lsy2b"},
      {"Japanese, Latin first", "MajiでKoiする5秒前", "MajiKoi5-783gue6qz075azm5e"},
      {"Japanese", "そのスピードで", "d9juau41awczczp"},
      {"ASCII only", "-> $1.00 <-", "-> $1.00 <--"},
      {"outside the BMP", "😀", "e28h"},
  };
  for (const auto& c : cases) EXPECT_EQ(Punycode(c.in).value_or("?"), c.out) << c.what;
  EXPECT_FALSE(Punycode("\xFF").has_value());
}

TEST(PunycodeTest, DomainsTurnOnlyTheirNonAsciiLabels) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"example.com", "example.com"},
      {"bücher.example", "xn--bcher-kva.example"},
      {"BÜCHER.Example", "xn--bcher-kva.Example"},  // lowered before encoding
      {"mail.例え.jp", "mail.xn--r8jz45g.jp"},
  };
  for (const auto& c : cases) EXPECT_EQ(AsciiDomain(c.in).value_or("?"), c.out) << c.in;
  EXPECT_FALSE(AsciiDomain(std::string(40, 'a') + "ü" + std::string(30, 'b')).has_value());
}

}  // namespace
}  // namespace ostrevane::delivery
