// The password cipher of settings.ini: AES-128 in ECB mode over the 8-bit
// code page bytes of a text, stored as upper-case hexadecimal. The stored
// form is fixed (other installations must read what this one writes), so
// every step from text to bytes, passphrase to key and bytes to hex is
// part of the contract. No state is kept between calls.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrevane {

// The one passphrase of the stored passwords (UTF-8 here; its first eight
// UTF-16 code units make the key).
inline constexpr char kSettingsPassphrase[] = "Qw7%Lp2@xRtжук♠☺";

using AesKey = std::array<uint8_t, 16>;
using AesBlock = std::array<uint8_t, 16>;

// 16 zero bytes overwritten by the UTF-16LE bytes of the passphrase's first
// eight code units.
AesKey KeyFromPassphrase(std::string_view passphrase_utf8);

// One AES-128 block (FIPS-197), no chaining.
AesBlock EncryptAesBlock(const AesBlock& in, const AesKey& key);
AesBlock DecryptAesBlock(const AesBlock& in, const AesKey& key);

// ECB over a whole byte string. Encryption fills a last partial block with
// zero bytes (an empty source gives nothing). Decryption of a length that is
// not a multiple of 16 throws Error(kEAESError, "Invalid buffer size for
// decryption"); an empty source gives nothing.
std::string EncryptBytesECB(std::string_view plain, const AesKey& key);
std::string DecryptBytesECB(std::string_view cipher, const AesKey& key);

// Two upper-case hex digits per byte.
std::string HexEncode(std::string_view bytes);
// Appends the bytes of a hex text to `out`: ASCII letters are taken in upper
// case, each pair of UTF-16 code units gives one byte, a last unpaired unit
// is dropped and any non-hex character counts as the digit 0.
void HexDecode(std::string_view text_utf8, std::string& out);
// "1"-"9" -> 1-9, "A"-"F" -> 10-15; every other character (even "0") -> 0.
int ParseHexDigit(char16_t c);

// Plain text -> stored text: the text's 8-bit code page bytes, encrypted
// with the passphrase's key, as hex.
std::string EncryptPassword(std::string_view plain_utf8, std::string_view passphrase_utf8);
// Stored text -> plain text. The zero bytes that padded the last block come
// back as trailing U+0000 characters; they are removed. Throws EAESError
// as DecryptBytesECB.
std::string DecryptPassword(std::string_view stored, std::string_view passphrase_utf8);

}  // namespace ostrevane
