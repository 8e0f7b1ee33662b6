// Owns one open file descriptor and closes it when it goes.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ostrevane {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up to the caller, who closes it.
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    Close();
    fd_ = fd;
  }
  // Closes now; false (errno set) when close reports a failure. Linux
  // releases the descriptor even when close reports EINTR, which is no
  // failure here.
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 || errno == EINTR;
  }

 private:
  int fd_ = -1;
};

}  // namespace ostrevane
