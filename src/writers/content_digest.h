// The size and SHA-256 of an output file, taken from the bytes on their way
// to the file, so that nothing is read back. Writes must come in file
// order; the one step back a writer takes (the XML writer rewrites the end
// of its root element to add another data set) is allowed within the last
// kHeldBack bytes, which are hashed only once nothing can rewrite them.
// A step back further than that makes the digest unknown (Valid() false)
// rather than wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/sha256.h"

namespace ostrevane {

class ContentDigest {
 public:
  static constexpr size_t kHeldBack = 64;

  // `bytes` written at file offset `offset`.
  void Write(int64_t offset, std::string_view bytes);
  bool Valid() const { return valid_; }
  // The file's size: the end of the furthest write.
  int64_t size() const { return hashed_ + int64_t(held_.size()); }
  // The digest as 64 hexadecimal digits, empty when not Valid(). Ends the
  // digest: call once, after the last write.
  std::string Finish();

 private:
  Sha256 hash_;
  int64_t hashed_ = 0;  // bytes given to hash_
  std::string held_;    // the bytes after them, still open to a rewrite
  bool valid_ = true;
};

}  // namespace ostrevane
