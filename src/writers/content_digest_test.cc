#include "writers/content_digest.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/sha256.h"
#include "writers/hash_thread.h"

namespace ostrevane {
namespace {

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char(seed + i * 7);
  return s;
}

TEST(Sha256Test, KnownDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Whatever the sizes of the pieces, the digest is that of the whole.
TEST(ContentDigestTest, PiecesInOrderGiveTheDigestOfTheWhole) {
  const std::string whole = Bytes(5000, 'a');
  for (size_t piece : {size_t{1}, size_t{13}, size_t{63}, size_t{64}, size_t{65}, size_t{1000},
                       size_t{5000}}) {
    ContentDigest digest;
    for (size_t at = 0; at < whole.size(); at += piece)
      digest.Write(int64_t(at), std::string_view(whole).substr(at, piece));
    EXPECT_EQ(digest.size(), int64_t(whole.size())) << piece;
    EXPECT_EQ(digest.Finish(), Sha256Hex(whole)) << piece;
  }
  ContentDigest empty;
  EXPECT_EQ(empty.Finish(), Sha256Hex(""));
}

// A step back over the last bytes (a closing tag written again with more
// before it) is followed; a step back into what was hashed, or a hole,
// makes the digest unknown instead of wrong.
TEST(ContentDigestTest, RewritesOfTheTailAreFollowed) {
  const std::string end = "\r\n</DATASETS>";
  for (size_t body : {size_t{0}, size_t{10}, size_t{100}, size_t{100000}}) {
    ContentDigest digest;
    std::string file = Bytes(body, 'x') + end;
    digest.Write(0, file);
    const std::string more = Bytes(body / 2 + 3, 'y') + end;
    digest.Write(int64_t(file.size() - end.size()), more);
    file = file.substr(0, file.size() - end.size()) + more;
    EXPECT_TRUE(digest.Valid()) << body;
    EXPECT_EQ(digest.size(), int64_t(file.size())) << body;
    EXPECT_EQ(digest.Finish(), Sha256Hex(file)) << body;
  }
  ContentDigest far_back;
  far_back.Write(0, Bytes(1000, 'z'));
  far_back.Write(10, "x");
  EXPECT_FALSE(far_back.Valid());
  EXPECT_EQ(far_back.Finish(), "");
  ContentDigest hole;
  hole.Write(0, "abc");
  hole.Write(5, "x");
  EXPECT_EQ(hole.Finish(), "");
}

// On the hash thread: several files at once, blocks queued beyond the
// queue's bound, a rewrite of the tail; each digest that of its own bytes.
TEST(ContentDigestTest, AHashThreadGivesTheSameDigests) {
  const std::string a = Bytes(9 * ContentDigest::kBlock + 123, 'a');
  const std::string b = Bytes(3 * ContentDigest::kBlock / 2, 'b') + "\r\n</END>";
  HashThread hasher;
  ContentDigest da(&hasher), db(&hasher), small(&hasher);
  const size_t piece = ContentDigest::kBlock / 3 + 7;
  for (size_t at = 0; at < a.size(); at += piece) {
    da.Write(int64_t(at), std::string_view(a).substr(at, piece));
    if (at < b.size()) db.Write(int64_t(at), std::string_view(b).substr(at, piece));
  }
  db.Write(int64_t(b.size() - 9), "more\r\n</END>");
  small.Write(0, "abc");
  EXPECT_EQ(da.Finish(), Sha256Hex(a));
  EXPECT_EQ(db.Finish(), Sha256Hex(b.substr(0, b.size() - 9) + "more\r\n</END>"));
  EXPECT_EQ(small.Finish(), Sha256Hex("abc"));
}

// A writer that fails leaves blocks in the queue: ending the thread first
// drops them without touching anything freed.
TEST(ContentDigestTest, AHashThreadEndsWithBlocksStillQueued) {
  const std::string a = Bytes(12 * ContentDigest::kBlock, 'c');
  std::optional<ContentDigest> queued;  // outlives the thread, as in StagedFiles
  HashThread hasher;
  queued.emplace(&hasher);
  queued->Write(0, a);
  // ~HashThread runs first; a sanitizer build catches a task run late.
}

}  // namespace
}  // namespace ostrevane
