// The size and SHA-256 of an output file, taken from the bytes on their way
// to the file, so that nothing is read back. Writes must come in file
// order; the one step back a writer takes (the XML writer rewrites the end
// of its root element to add another data set) is allowed within the last
// kHeldBack bytes, which are hashed only once nothing can rewrite them.
// A step back further than that makes the digest unknown (Valid() false)
// rather than wrong. With a HashThread the bytes are hashed there, a block
// at a time; the digest is then used by its owner and that thread only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/sha256.h"

namespace ostrevane {

class HashThread;

class ContentDigest {
 public:
  static constexpr size_t kHeldBack = 64;
  static constexpr size_t kBlock = size_t{1} << 20;  // bytes handed to the thread at once

  // `hasher` (may be null: hash at once) must outlive the digest's last
  // Write and Finish; the digest must outlive the tasks it gave `hasher`.
  explicit ContentDigest(HashThread* hasher = nullptr) : hasher_(hasher) {}

  // `bytes` written at file offset `offset`.
  void Write(int64_t offset, std::string_view bytes);
  // Forgets every byte given so far and starts again from offset 0, known
  // (for OutputFile::DigestWholeFile).
  void Restart();
  // Whether the digest is still known (meaningful after Finish when a
  // HashThread hashes).
  bool Valid() const { return valid_; }
  // The file's size: the end of the furthest write.
  int64_t size() const { return hashed_ + int64_t(held_.size()); }
  // The digest as 64 hexadecimal digits, empty when not Valid(). Ends the
  // digest: call once, after the last write.
  std::string Finish();

 private:
  void Hash(std::string_view bytes);  // bytes final in the file, in order
  void HashBlock(const std::string& block);  // on the hash thread

  HashThread* hasher_;
  std::atomic<bool> hash_failed_{false};  // set on the hash thread
  std::string block_;  // final bytes not yet given to hasher_
  Sha256 hash_;
  int64_t hashed_ = 0;  // bytes given to hash_
  std::string held_;    // the bytes after them, still open to a rewrite
  bool valid_ = true;
};

}  // namespace ostrevane
