#include "writers/compressor.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <cerrno>

#include "common/error.h"

namespace ostrevane {
namespace {

// Raw deflate (no zlib or gzip wrapper): the member's header and trailer
// are MemberFrame's.
class GzipCoder final : public BlockCoder {
 public:
  explicit GzipCoder(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw Exception("Cannot start the gzip compression: not enough memory");
  }
  ~GzipCoder() override { deflateEnd(&stream_); }
  GzipCoder(const GzipCoder&) = delete;
  GzipCoder& operator=(const GzipCoder&) = delete;

  int Code(CodedBlock& block) override {
    if (deflateReset(&stream_) != Z_OK) return EINVAL;
    if (!block.dictionary.empty() &&
        deflateSetDictionary(&stream_, Bytes(block.dictionary), uInt(block.dictionary.size())) !=
            Z_OK)
      return EINVAL;
    const std::string& input = block.input;
    std::string& output = block.output;
    // The bound of a whole stream, and room for the empty stored block that
    // ends a block on a byte boundary.
    output.resize(deflateBound(&stream_, uLong(input.size())) + 16);
    stream_.next_in = const_cast<Bytef*>(Bytes(input));
    stream_.avail_in = uInt(input.size());
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    size_t used = 0;
    while (true) {
      stream_.next_out = reinterpret_cast<Bytef*>(output.data() + used);
      stream_.avail_out = uInt(output.size() - used);
      const int rc = deflate(&stream_, flush);
      used = output.size() - stream_.avail_out;
      if (rc == Z_STREAM_ERROR) return EINVAL;
      const bool done = block.last ? rc == Z_STREAM_END : stream_.avail_out != 0;
      if (done) break;
      output.resize(output.size() * 2);
    }
    output.resize(used);
    block.crc = uint32_t(crc32_z(0, Bytes(input), input.size()));
    return 0;
  }

 private:
  static const Bytef* Bytes(const std::string& s) {
    return reinterpret_cast<const Bytef*>(s.data());
  }
  z_stream stream_{};
};

// One zstd stream per member, coded in order; the frame carries a checksum
// of its content, which readers and `-t` tests verify.
class ZstdCoder final : public BlockCoder {
 public:
  explicit ZstdCoder(int level) : context_(ZSTD_createCCtx()) {
    if (!context_ ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, level)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_checksumFlag, 1))) {
      ZSTD_freeCCtx(context_);
      throw Exception("Cannot start the zstd compression: not enough memory");
    }
  }
  ~ZstdCoder() override { ZSTD_freeCCtx(context_); }
  ZstdCoder(const ZstdCoder&) = delete;
  ZstdCoder& operator=(const ZstdCoder&) = delete;

  int Code(CodedBlock& block) override {
    if (block.first && ZSTD_isError(ZSTD_CCtx_reset(context_, ZSTD_reset_session_only)))
      return EINVAL;
    std::string& output = block.output;
    output.resize(ZSTD_compressBound(block.input.size()) + 64);
    ZSTD_inBuffer in{block.input.data(), block.input.size(), 0};
    ZSTD_outBuffer out{output.data(), output.size(), 0};
    const ZSTD_EndDirective mode = block.last ? ZSTD_e_end : ZSTD_e_continue;
    while (true) {
      const size_t left = ZSTD_compressStream2(context_, &out, &in, mode);
      if (ZSTD_isError(left)) return ZSTD_getErrorCode(left) == ZSTD_error_memory_allocation
                                         ? ENOMEM
                                         : EINVAL;
      const bool done = block.last ? left == 0 : in.pos == in.size;
      if (done) break;
      if (out.pos == out.size) {
        output.resize(output.size() * 2);
        out.dst = output.data();
        out.size = output.size();
      }
    }
    output.resize(out.pos);
    return 0;
  }

 private:
  ZSTD_CCtx* context_;
};

void AppendLittleEndian32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string_view CompressedSuffix(const Compression& compression) {
  switch (compression.method) {
    case CompressionMethod::kGzip: return ".gz";
    case CompressionMethod::kZstd: return ".zst";
    default: return {};
  }
}

bool IndependentBlocks(const Compression& compression) {
  return compression.method == CompressionMethod::kGzip;
}

std::unique_ptr<BlockCoder> MakeBlockCoder(const Compression& compression) {
  switch (compression.method) {
    case CompressionMethod::kGzip: return std::make_unique<GzipCoder>(compression.level);
    case CompressionMethod::kZstd: return std::make_unique<ZstdCoder>(compression.level);
    default: return nullptr;
  }
}

void MemberFrame::Before(const CodedBlock& block, std::string& out) {
  if (!block.first) return;
  crc_ = 0;
  size_ = 0;
  if (method_ != CompressionMethod::kGzip) return;
  // ID1 ID2, deflate, no flags, no modification time, no extra flags,
  // made on Unix.
  static constexpr char kHeader[] = {'\x1F', '\x8B', '\x08', 0, 0, 0, 0, 0, 0, '\x03'};
  out.append(kHeader, sizeof kHeader);
}

void MemberFrame::After(const CodedBlock& block, std::string& out) {
  if (method_ != CompressionMethod::kGzip) return;
  crc_ = uint32_t(crc32_combine(crc_, block.crc, z_off_t(block.input.size())));
  size_ += block.input.size();
  if (!block.last) return;
  AppendLittleEndian32(out, crc_);
  AppendLittleEndian32(out, uint32_t(size_));  // the size modulo 2^32
}

}  // namespace ostrevane
