#include "writers/compression_thread.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ostrevane {
namespace {

constexpr size_t kDictionary = size_t{32} << 10;  // deflate's window

}  // namespace

CompressionThread::CompressionThread(const Compression& compression)
    : compression_(compression),
      independent_(IndependentBlocks(compression)),
      coder_(MakeBlockCoder(compression)),
      frame_(compression) {}

CompressionThread::~CompressionThread() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
  // The block the thread codes is still its own: the queue goes after it.
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<CompressionThread::Slot> CompressionThread::TakeSpare() {
  std::unique_ptr<Slot> slot;
  if (!spare_.empty()) {
    slot = std::move(spare_.back());
    spare_.pop_back();
  } else {
    slot = std::make_unique<Slot>();
    // Reserved once: a new block for every megabyte of output would cost
    // page faults on every one of them.
    slot->block.input.reserve(kBlock);
  }
  slot->block.input.clear();
  slot->block.dictionary.clear();
  slot->block.first = slot->block.last = false;
  slot->state = State::kQueued;
  return slot;
}

void CompressionThread::Begin(int fd, int64_t offset, ContentDigest* digest,
                              ProgressMeter* meter) {
  std::lock_guard<std::mutex> lock(mu_);
  fd_ = fd;
  offset_ = offset;
  digest_ = digest;
  meter_ = meter;
  abandoned_ = false;
  error_.store(0);
  member_first_ = true;
  tail_.clear();
  if (!filling_) filling_ = TakeSpare();
  filling_->block.input.clear();
}

int CompressionThread::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (const int error = error_.load(std::memory_order_relaxed); error != 0) return error;
    std::string& input = filling_->block.input;
    const size_t n = std::min(bytes.size(), kBlock - input.size());
    input.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
    if (input.size() == kBlock) Submit(false);
  }
  return error_.load(std::memory_order_relaxed);
}

void CompressionThread::Submit(bool last) {
  std::unique_ptr<Slot> slot = std::move(filling_);
  CodedBlock& block = slot->block;
  block.first = member_first_;
  block.last = last;
  member_first_ = false;
  if (independent_) {
    block.dictionary.swap(tail_);
    const std::string_view input = block.input;
    if (input.size() >= kDictionary) {
      tail_.assign(input.substr(input.size() - kDictionary));
    } else {
      // A short block: the dictionary goes on with the bytes before it.
      tail_ = block.dictionary;
      tail_.append(input);
      if (tail_.size() > kDictionary) tail_.erase(0, tail_.size() - kDictionary);
    }
  }
  std::unique_lock<std::mutex> lock(mu_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  while (queue_.size() >= kMaxQueued && error_.load() == 0) {
    if (independent_ && HelpOne(lock)) continue;
    changed_.wait(lock);
  }
  queue_.push_back(std::move(slot));
  filling_ = TakeSpare();
  changed_.notify_all();
}

bool CompressionThread::HelpOne(std::unique_lock<std::mutex>& lock) {
  Slot* chosen = nullptr;
  for (auto it = queue_.rbegin(); it != queue_.rend(); ++it)
    if ((*it)->state == State::kQueued) {
      chosen = it->get();
      break;
    }
  if (!chosen) return false;
  chosen->state = State::kCoding;
  lock.unlock();
  int error = 0;
  try {
    if (!helper_coder_) helper_coder_ = MakeBlockCoder(compression_);
    error = helper_coder_->Code(chosen->block);
  } catch (...) {
    error = ENOMEM;
  }
  lock.lock();
  chosen->state = State::kCoded;
  if (error != 0 && error_.load() == 0) error_.store(error);
  changed_.notify_all();
  return true;
}

int CompressionThread::End() {
  Submit(true);
  std::unique_lock<std::mutex> lock(mu_);
  while (!queue_.empty() || emitting_) {
    if (independent_ && error_.load() == 0 && HelpOne(lock)) continue;
    changed_.wait(lock);
  }
  return error_.load();
}

void CompressionThread::Abandon() noexcept {
  std::unique_lock<std::mutex> lock(mu_);
  abandoned_ = true;
  // Blocks not begun are dropped; the thread finishes the one it codes
  // and then drops it too.
  for (auto it = queue_.begin(); it != queue_.end();) {
    if ((*it)->state == State::kQueued) {
      spare_.push_back(std::move(*it));
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
  changed_.notify_all();
  changed_.wait(lock, [this] { return queue_.empty() && !emitting_; });
  if (filling_) filling_->block.input.clear();
}

int CompressionThread::Put(std::string_view bytes) {
  if (bytes.empty()) return 0;
  if (digest_) digest_->Write(offset_, bytes);
  offset_ += int64_t(bytes.size());
  while (!bytes.empty()) {
    const ssize_t w = ::write(fd_, bytes.data(), bytes.size());
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno;
    if (w == 0) return ENOSPC;
    bytes.remove_prefix(size_t(w));
    if (meter_) meter_->AddBytes(w);
  }
  return 0;
}

int CompressionThread::Emit(Slot& slot) {
  framing_.clear();
  frame_.Before(slot.block, framing_);
  if (const int error = Put(framing_); error != 0) return error;
  if (const int error = Put(slot.block.output); error != 0) return error;
  framing_.clear();
  frame_.After(slot.block, framing_);
  return Put(framing_);
}

void CompressionThread::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    Slot* next = nullptr;
    changed_.wait(lock, [&] {
      if (stop_) return true;
      if (queue_.empty()) return false;
      if (queue_.front()->state == State::kCoded) return true;
      for (const auto& slot : queue_)
        if (slot->state == State::kQueued) {
          next = slot.get();
          return true;
        }
      return false;
    });
    if (stop_) return;
    if (!next) {
      // The oldest block is coded: it goes to the file, in order.
      std::unique_ptr<Slot> slot = std::move(queue_.front());
      queue_.pop_front();
      const bool write = !abandoned_ && error_.load() == 0;
      emitting_ = write;
      if (write) {
        lock.unlock();
        const int error = Emit(*slot);
        lock.lock();
        emitting_ = false;
        if (error != 0 && error_.load() == 0) error_.store(error);
      }
      if (spare_.size() <= kMaxQueued) spare_.push_back(std::move(slot));
      changed_.notify_all();
      continue;
    }
    next->state = State::kCoding;
    const bool skip = abandoned_ || error_.load() != 0;
    lock.unlock();
    const int error = skip ? 0 : coder_->Code(next->block);
    lock.lock();
    next->state = State::kCoded;
    if (error != 0 && error_.load() == 0) error_.store(error);
    changed_.notify_all();
  }
}

}  // namespace ostrevane
