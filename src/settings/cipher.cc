#include "settings/cipher.h"

#include <openssl/evp.h>

#include <memory>

#include "common/codepage.h"
#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// Runs AES-128-ECB without padding over `in` (a multiple of 16 bytes).
std::string RunEcb(std::string_view in, const AesKey& key, bool encrypt) {
  std::string out(in.size(), '\0');
  if (in.empty()) return out;
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int tail = 0;
  if (!ctx ||
      EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr,
                        encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                       reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + len,
                         &tail) != 1 ||
      static_cast<size_t>(len + tail) != in.size()) {
    throw Error(kEAESError, "AES operation failed");
  }
  return out;
}

AesBlock RunBlock(const AesBlock& in, const AesKey& key, bool encrypt) {
  std::string out = RunEcb(
      std::string_view(reinterpret_cast<const char*>(in.data()), in.size()), key, encrypt);
  AesBlock block;
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(out[i]);
  return block;
}

}  // namespace

AesKey KeyFromPassphrase(std::string_view passphrase_utf8) {
  AesKey key{};
  const std::u16string units = Utf8ToUtf16(passphrase_utf8);
  for (size_t i = 0; i < units.size() && i < 8; ++i) {
    key[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    key[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return key;
}

AesBlock EncryptAesBlock(const AesBlock& in, const AesKey& key) { return RunBlock(in, key, true); }
AesBlock DecryptAesBlock(const AesBlock& in, const AesKey& key) { return RunBlock(in, key, false); }

std::string EncryptBytesECB(std::string_view plain, const AesKey& key) {
  std::string padded(plain);
  if (size_t rest = padded.size() % 16; rest != 0) padded.append(16 - rest, '\0');
  return RunEcb(padded, key, true);
}

std::string DecryptBytesECB(std::string_view cipher, const AesKey& key) {
  if (cipher.size() % 16 != 0) throw Error(kEAESError, "Invalid buffer size for decryption");
  return RunEcb(cipher, key, false);
}

std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

int ParseHexDigit(char16_t c) {
  if (c >= u'1' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 0;
}

void HexDecode(std::string_view text_utf8, std::string& out) {
  std::u16string units = Utf8ToUtf16(text_utf8);
  for (char16_t& c : units)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  out.reserve(out.size() + units.size() / 2);
  for (size_t i = 0; i + 1 < units.size(); i += 2)
    out += static_cast<char>(ParseHexDigit(units[i]) * 16 + ParseHexDigit(units[i + 1]));
}

std::string EncryptPassword(std::string_view plain_utf8, std::string_view passphrase_utf8) {
  return HexEncode(EncryptBytesECB(Utf8ToAnsi(plain_utf8), KeyFromPassphrase(passphrase_utf8)));
}

std::string DecryptPassword(std::string_view stored, std::string_view passphrase_utf8) {
  std::string cipher;
  HexDecode(stored, cipher);
  std::string text = AnsiToUtf8(DecryptBytesECB(cipher, KeyFromPassphrase(passphrase_utf8)));
  // Zero padding of the last block, not part of the password.
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace ostrevane
