// A thread that compresses the output files of one writer call and writes
// them, while the writer goes on formatting rows: the writer hands over
// the file's bytes a block at a time, the thread codes each block and
// writes the coded blocks to the file in order, giving them to the file's
// digest as it goes (so size and checksum are those of the compressed
// file). The queue is bounded: a writer that is faster than the coding
// waits, and where blocks are independent (gzip) it codes the newest
// queued block itself meanwhile, so that both cores compress.
//
// One file at a time: Begin, Write..., then End (or Abandon). The file's
// descriptor stays the caller's; it must stay open until End or Abandon
// returns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/progress_meter.h"
#include "common/thread_annotations.h"
#include "control/job.h"
#include "writers/compressor.h"
#include "writers/content_digest.h"

namespace ostrevane {

class CompressionThread {
 public:
  static constexpr size_t kBlock = size_t{1} << 20;  // input bytes per block
  static constexpr size_t kMaxQueued = 4;

  // Raises Error when the coder cannot be made.
  explicit CompressionThread(const Compression& compression);
  // Joins the thread; the blocks still queued are dropped.
  ~CompressionThread();
  CompressionThread(const CompressionThread&) = delete;
  CompressionThread& operator=(const CompressionThread&) = delete;

  // Begins a member: its bytes go to `fd` from `offset` on, also to
  // `digest` (when given, at their offsets in the file) and are counted
  // on `meter` (when given). Both must outlive End or Abandon.
  void Begin(int fd, int64_t offset, ContentDigest* digest, ProgressMeter* meter);
  // Adds bytes to the member. Returns 0, or the errno of a failure to code
  // or write an earlier block: the member is lost then.
  int Write(std::string_view bytes);
  // Ends the member and returns once all of it is in the file: 0 or the
  // errno of the first failure.
  int End();
  // Gives the member up: nothing more of it is written. Returns once no
  // block of it is being written. Never throws.
  void Abandon() noexcept;

 private:
  enum class State : uint8_t { kQueued, kCoding, kCoded };
  struct Slot {
    CodedBlock block;
    State state = State::kQueued;
  };

  void Run();
  // Hands the block being filled to the queue.
  void Submit(bool last);
  // Codes the newest queued block on the calling thread (the writer's);
  // false when there is none. `lock` holds mu_.
  bool HelpOne(std::unique_lock<std::mutex>& lock);
  // Writes a coded block (with the member's header or trailer) to the file.
  int Emit(Slot& slot);
  int Put(std::string_view bytes);
  std::unique_ptr<Slot> TakeSpare() REQUIRES(mu_);

  const Compression compression_;
  const bool independent_;
  std::unique_ptr<BlockCoder> coder_;         // the thread's
  std::unique_ptr<BlockCoder> helper_coder_;  // the writer's, made when first needed

  // The writer's side.
  std::unique_ptr<Slot> filling_;
  std::string tail_;  // the last 32 KiB submitted: the next block's dictionary
  bool member_first_ = true;

  // The file of the member: set by Begin while nothing is queued, then
  // used by the thread alone.
  int fd_ = -1;
  int64_t offset_ = 0;
  ContentDigest* digest_ = nullptr;
  ProgressMeter* meter_ = nullptr;
  MemberFrame frame_;
  std::string framing_;

  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Slot>> queue_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Slot>> spare_ GUARDED_BY(mu_);
  bool emitting_ GUARDED_BY(mu_) = false;  // the thread writes a popped block
  bool abandoned_ GUARDED_BY(mu_) = false;
  bool stop_ GUARDED_BY(mu_) = false;
  std::atomic<int> error_{0};  // the member's first failure
  std::thread thread_;         // started by the first Submit
};

}  // namespace ostrevane
