#include "common/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace ostrevane {

struct Sha256::Context {
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  if (!context_->ctx || EVP_DigestInit_ex(context_->ctx.get(), EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(std::string_view bytes) {
  if (bytes.empty()) return;
  if (EVP_DigestUpdate(context_->ctx.get(), bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context_->ctx.get(), digest, &size) != 1)
    throw std::runtime_error("SHA-256 final failed");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

}  // namespace ostrevane
