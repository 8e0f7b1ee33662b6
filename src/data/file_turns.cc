#include "data/file_turns.h"

#include <utility>

namespace ostrevane {

void FileQueue::Enter(TurnKind kind) {
  std::unique_lock<std::mutex> lock(mu_);
  Request request{kind};
  waiting_.push_back(&request);
  GrantFromFront();
  granted_.wait(lock, [&request] { return request.granted; });
}

void FileQueue::Leave(TurnKind kind) {
  std::lock_guard<std::mutex> lock(mu_);
  if (kind == TurnKind::kExclusive)
    writer_ = false;
  else
    --readers_;
  GrantFromFront();
}

void FileQueue::GrantFromFront() {
  bool granted_any = false;
  while (!waiting_.empty() && !writer_) {
    Request* next = waiting_.front();
    if (next->kind == TurnKind::kExclusive) {
      if (readers_ > 0) break;
      writer_ = true;
    } else {
      ++readers_;
    }
    next->granted = true;
    waiting_.pop_front();
    granted_any = true;
  }
  if (granted_any) granted_.notify_all();
}

FileTurn::FileTurn(FileTurn&& other) noexcept
    : queue_(std::exchange(other.queue_, nullptr)), kind_(other.kind_) {}

FileTurn& FileTurn::operator=(FileTurn&& other) noexcept {
  if (this != &other) {
    Release();
    queue_ = std::exchange(other.queue_, nullptr);
    kind_ = other.kind_;
  }
  return *this;
}

void FileTurn::Release() {
  if (queue_) std::exchange(queue_, nullptr)->Leave(kind_);
}

FileTurn FileTurns::Wait(const std::string& key, TurnKind kind) {
  FileQueue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::unique_ptr<FileQueue>& slot = queues_[key];
    if (!slot) slot = std::make_unique<FileQueue>();
    queue = slot.get();
  }
  queue->Enter(kind);
  return FileTurn(queue, kind);
}

}  // namespace ostrevane
