#include "writers/content_digest.h"

namespace ostrevane {

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
  hash_.Update(std::string_view(held_).substr(0, from_held));
  hash_.Update(bytes.substr(0, from_new));
  hashed_ += int64_t(to_hash);
  held_.erase(0, from_held);
  held_.append(bytes.substr(from_new));
}

std::string ContentDigest::Finish() {
  if (!valid_) return {};
  hash_.Update(held_);
  hashed_ += int64_t(held_.size());
  held_.clear();
  return hash_.HexDigest();
}

}  // namespace ostrevane
