// The compression of output files, a block of the file's bytes at a time:
// gzip members (zlib) and zstd frames (libzstd). These are the only files
// that include the libraries' headers.
//
// A member (a frame) is the compressed form of the bytes written through
// one open file. Its blocks are compressed by a BlockCoder each; gzip
// blocks do not depend on each other (each is a run of raw deflate
// blocks that starts from the 32 KiB before it as its dictionary and ends
// on a byte boundary, and the member's header and trailer are put around
// them), so two threads may compress two blocks of one member at once.
// zstd blocks continue one stream and are coded in order by one coder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "control/job.h"

namespace ostrevane {

// One block of a member, with what its coding needs and gives.
struct CodedBlock {
  std::string input;
  std::string dictionary;  // gzip: up to 32 KiB of the member's bytes before `input`
  bool first = false;      // the member's first block
  bool last = false;       // its last block (may have no input)
  std::string output;      // the coded block, without the member's header and trailer
  uint32_t crc = 0;        // gzip: the CRC-32 of `input`
};

class BlockCoder {
 public:
  virtual ~BlockCoder() = default;
  // Codes block.input into block.output. Returns 0, or the errno that
  // says why the block cannot be coded (ENOMEM).
  virtual int Code(CodedBlock& block) = 0;
};

// The ".gz" or ".zst" of the method; "" for no compression.
std::string_view CompressedSuffix(const Compression& compression);

// Whether blocks of one member may be coded on different coders, in any
// order.
bool IndependentBlocks(const Compression& compression);

// A new coder for the method and level. Raises Error when the library
// cannot make one.
std::unique_ptr<BlockCoder> MakeBlockCoder(const Compression& compression);

// Puts a member together from its coded blocks, in order: the header
// before the first, the trailer after the last.
class MemberFrame {
 public:
  explicit MemberFrame(const Compression& compression) : method_(compression.method) {}
  // Appends to `out` what goes before block.output (nothing but for the
  // first block).
  void Before(const CodedBlock& block, std::string& out);
  // Appends to `out` what goes after block.output (nothing but for the
  // last block), and counts the block.
  void After(const CodedBlock& block, std::string& out);

 private:
  CompressionMethod method_;
  uint32_t crc_ = 0;
  uint64_t size_ = 0;
};

}  // namespace ostrevane
