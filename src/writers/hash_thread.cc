#include "writers/hash_thread.h"

namespace ostrevane {

HashThread::~HashThread() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HashThread::Submit(std::function<void()> task) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  changed_.wait(lock, [this] { return queue_.size() < kMaxQueued; });
  queue_.push_back(std::move(task));
  changed_.notify_all();
}

void HashThread::Drain() {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::string HashThread::TakeBlock(size_t size) {
  std::string block;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!spare_.empty()) {
      block = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  block.clear();
  block.reserve(size);
  return block;
}

void HashThread::Recycle(std::string block) {
  std::lock_guard<std::mutex> lock(mu_);
  if (spare_.size() <= kMaxQueued) spare_.push_back(std::move(block));
}

void HashThread::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    changed_.notify_all();  // room in the queue
    lock.unlock();
    task();  // never throws: the tasks catch their own failures
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace ostrevane
