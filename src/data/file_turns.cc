#include "data/file_turns.h"

#include <utility>

namespace ostrevane {

bool FileQueue::Enter(TurnKind kind, const StopFlag* stop) {
  std::unique_lock<std::mutex> lock(mu_);
  Request request{kind};
  waiting_.push_back(&request);
  GrantFromFront();
  granted_.wait(lock, [&] { return request.granted || (stop && stop->raised()); });
  if (request.granted) return true;
  // Given up: those behind may now go ahead (readers behind a writer).
  std::erase(waiting_, &request);
  GrantFromFront();
  return false;
}

void FileQueue::Wake() {
  std::lock_guard<std::mutex> lock(mu_);
  granted_.notify_all();
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

FileTurn FileTurns::Wait(const std::string& key, TurnKind kind, const StopFlag* stop) {
  FileQueue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::unique_ptr<FileQueue>& slot = queues_[key];
    if (!slot) slot = std::make_unique<FileQueue>();
    queue = slot.get();
  }
  if (!queue->Enter(kind, stop)) return FileTurn();
  return FileTurn(queue, kind);
}

void FileTurns::WakeWaiters() {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [key, queue] : queues_) queue->Wake();
}

}  // namespace ostrevane
