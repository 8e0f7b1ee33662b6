#include "settings/cipher.h"

#include <gtest/gtest.h>

#include "common/codepage.h"
#include "common/error.h"

namespace ostrevane {
namespace {

std::string Unhex(std::string_view hex) {
  std::string bytes;
  HexDecode(hex, bytes);
  return bytes;
}

template <typename A>
A ToArray(std::string_view hex) {
  std::string b = Unhex(hex);
  A a{};
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(b[i]);
  return a;
}

std::string Hex(const AesBlock& b) {
  return HexEncode(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

// Restores the UTF-8 code page whatever a test selected.
struct CodePageGuard {
  explicit CodePageGuard(const std::string& name) { SetAnsiCodePage(name); }
  ~CodePageGuard() { SetAnsiCodePage(""); }
};

TEST(CipherTest, BlockRoutinesMatchFips197Vectors) {
  struct {
    const char* key;
    const char* plain;
    const char* cipher;
  } cases[] = {
      // Appendix B
      {"2B7E151628AED2A6ABF7158809CF4F3C", "3243F6A8885A308D313198A2E0370734",
       "3925841D02DC09FBDC118597196A0B32"},
      // Appendix C.1
      {"000102030405060708090A0B0C0D0E0F", "00112233445566778899AABBCCDDEEFF",
       "69C4E0D86A7B0430D8CDB78070B4C55A"},
  };
  for (const auto& row : cases) {
    const AesKey key = ToArray<AesKey>(row.key);
    EXPECT_EQ(Hex(EncryptAesBlock(ToArray<AesBlock>(row.plain), key)), row.cipher) << row.key;
    EXPECT_EQ(Hex(DecryptAesBlock(ToArray<AesBlock>(row.cipher), key)), row.plain) << row.key;
  }
}

TEST(CipherTest, KeyIsUtf16LeOfFirstEightCodeUnits) {
  struct {
    std::string passphrase;
    std::string key_hex;
  } cases[] = {
      {kSettingsPassphrase, "51007700370025004C00700032004000"},  // "Qw7%Lp2@"
      {"ab", "61006200000000000000000000000000"},
      {"", "00000000000000000000000000000000"},
      {"\xD0\xB6\xE2\x99\xA0", "36046026000000000000000000000000"},  // U+0436 U+2660
  };
  for (const auto& row : cases) {
    const AesKey key = KeyFromPassphrase(row.passphrase);
    EXPECT_EQ(HexEncode(std::string_view(reinterpret_cast<const char*>(key.data()), 16)),
              row.key_hex)
        << row.passphrase;
  }
}

// Stored texts computed independently (AES-128-ECB of the zero-padded bytes
// under the settings key): they pin the stored form other installations read.
TEST(CipherTest, StoredTextMatchesKnownValues) {
  EXPECT_EQ(EncryptPassword("abc", kSettingsPassphrase), "596676B17206C131225A5D58024EDA65");
  EXPECT_EQ(EncryptPassword("exactly16bytes!!", kSettingsPassphrase),
            "8BAE939EF7428C64E4BD6AE7D4B7703C");
  EXPECT_EQ(EncryptPassword("caf\xC3\xA9", kSettingsPassphrase),
            "7225362842579F876D50981D104833F8");
  EXPECT_EQ(DecryptPassword("596676b17206c131225a5d58024eda65", kSettingsPassphrase), "abc");
}

TEST(CipherTest, LengthsPaddingAndRoundTrip) {
  struct {
    size_t length;
    size_t hex_digits;
  } cases[] = {{0, 0}, {1, 32}, {15, 32}, {16, 32}, {17, 64}, {32, 64}, {33, 96}};
  for (const auto& row : cases) {
    std::string plain;
    for (size_t i = 0; i < row.length; ++i) plain += static_cast<char>('A' + i % 26);
    const std::string stored = EncryptPassword(plain, kSettingsPassphrase);
    EXPECT_EQ(stored.size(), row.hex_digits) << row.length;
    EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos) << row.length;
    const std::string back = DecryptPassword(stored, kSettingsPassphrase);
    EXPECT_EQ(back, plain) << row.length;  // no trailing U+0000 from the padding
  }
  // The raw layer keeps the padding bytes: they are zero.
  const std::string raw = DecryptBytesECB(Unhex(EncryptPassword("abc", kSettingsPassphrase)),
                                          KeyFromPassphrase(kSettingsPassphrase));
  EXPECT_EQ(raw, std::string("abc") + std::string(13, '\0'));
}

TEST(CipherTest, LenientHexDecoding) {
  struct {
    std::string text;
    std::string bytes_hex;
  } cases[] = {
      {"0aFf", "0AFF"},
      {"abc", "AB"},            // last unpaired digit dropped
      {"G1zz", "0100"},         // non-hex characters count as 0
      {"\xD0\xB6" "1", "01"},   // one non-ASCII character is one unit
      {"", ""},
  };
  for (const auto& row : cases) EXPECT_EQ(HexEncode(Unhex(row.text)), row.bytes_hex) << row.text;

  struct {
    char16_t c;
    int value;
  } digits[] = {{u'0', 0}, {u'1', 1}, {u'9', 9}, {u'A', 10}, {u'F', 15},
                {u'a', 0}, {u'G', 0}, {u' ', 0}, {u'\u0436', 0}};
  for (const auto& row : digits) EXPECT_EQ(ParseHexDigit(row.c), row.value) << int(row.c);
}

TEST(CipherTest, DecryptingBadLengthsAndDigits) {
  const std::string good = EncryptPassword("secret", kSettingsPassphrase);  // 32 digits
  ASSERT_EQ(good.size(), 32u);
  // 31 digits: 15 bytes, not a whole block.
  try {
    DecryptPassword(good.substr(0, 31), kSettingsPassphrase);
    FAIL() << "expected EAESError";
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), "EAESError");
    EXPECT_EQ(e.message(), "Invalid buffer size for decryption");
  }
  // 33 digits: the last one is dropped.
  EXPECT_EQ(DecryptPassword(good + "7", kSettingsPassphrase), "secret");
  // Empty stored text: empty password, no error.
  EXPECT_EQ(DecryptPassword("", kSettingsPassphrase), "");
  // A changed digit of the right length is not detected: other text comes back.
  std::string changed = good;
  changed[0] = changed[0] == 'A' ? 'B' : 'A';
  EXPECT_NE(DecryptPassword(changed, kSettingsPassphrase), "secret");
  // A wrong passphrase is not detected either.
  EXPECT_NE(DecryptPassword(good, "another passphrase"), "secret");
}

TEST(CipherTest, TextGoesThroughTheEightBitCodePage) {
  CodePageGuard guard("CP1252");
  // "café" is 4 bytes in CP1252: one block, the CP1252 bytes.
  const std::string stored = EncryptPassword("caf\xC3\xA9", kSettingsPassphrase);
  EXPECT_EQ(stored, "77BC885ED92C19A999DA04807C3D78F8");
  EXPECT_EQ(DecryptPassword(stored, kSettingsPassphrase), "caf\xC3\xA9");
  // Characters the code page cannot hold do not come back.
  EXPECT_EQ(DecryptPassword(EncryptPassword("\xD0\xB6\xD1\x83\xD0\xBA", kSettingsPassphrase),
                            kSettingsPassphrase),
            "???");
}

}  // namespace
}  // namespace ostrevane
