#include "writers/content_digest.h"

#include <exception>
#include <utility>

#include "writers/hash_thread.h"

namespace ostrevane {

void ContentDigest::HashBlock(const std::string& block) {
  try {
    hash_.Update(block);
  } catch (const std::exception&) {
    hash_failed_.store(true);
  }
}

void ContentDigest::Hash(std::string_view bytes) {
  if (!hasher_) {
    hash_.Update(bytes);
    return;
  }
  // The first block grows as a small file needs; later ones are reused.
  block_.append(bytes);
  if (block_.size() < kBlock) return;
  hasher_->Submit([this, block = std::move(block_)]() mutable {
    HashBlock(block);
    hasher_->Recycle(std::move(block));
  });
  block_ = hasher_->TakeBlock(kBlock + kBlock / 4);
}

void ContentDigest::Write(int64_t offset, std::string_view bytes) {
  if (!valid_ || bytes.empty()) return;
  if (offset < hashed_ || offset > size()) {
    valid_ = false;  // a rewrite of bytes already hashed, or a hole
    return;
  }
  held_.resize(size_t(offset - hashed_));  // a rewrite of held bytes drops them
  if (held_.size() + bytes.size() <= kHeldBack) {
    held_.append(bytes);
    return;
  }
  // Hash the held bytes and all but the last kHeldBack of the new ones.
  const size_t keep = kHeldBack;
  const size_t from_new = bytes.size() > keep ? bytes.size() - keep : 0;
  const size_t total = held_.size() + bytes.size();
  size_t to_hash = total - keep;
  const size_t from_held = to_hash - from_new;  // <= held_.size()
  Hash(std::string_view(held_).substr(0, from_held));
  Hash(bytes.substr(0, from_new));
  hashed_ += int64_t(to_hash);
  held_.erase(0, from_held);
  held_.append(bytes.substr(from_new));
}

void ContentDigest::Restart() {
  if (hasher_) hasher_->Drain();  // no block of the old stream may still be in flight
  hash_ = Sha256();
  hash_failed_.store(false);
  block_.clear();
  held_.clear();
  hashed_ = 0;
  valid_ = true;
}

std::string ContentDigest::Finish() {
  if (hasher_) hasher_->Drain();
  if (!valid_ || hash_failed_.load()) return {};
  hash_.Update(block_);
  block_.clear();
  hash_.Update(held_);
  hashed_ += int64_t(held_.size());
  held_.clear();
  return hash_.HexDigest();
}

}  // namespace ostrevane
