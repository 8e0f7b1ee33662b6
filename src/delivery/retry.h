// Trying a delivery again after a transient failure (a refused or dropped
// connection, a time-out, a server's "try later" answer), with a wait that
// doubles after each try. A permanent failure (refused login, a missing
// folder, an unknown host key) ends the delivery at once. Every wait goes
// through a RetryClock, so tests can run the waits without waiting.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "common/error.h"
#include "common/stop_flag.h"

namespace ostrevane::delivery {

// A failure of a delivery that says whether a later try may succeed. The
// class name and message are those of the protocol's own error.
class DeliveryError : public Error {
 public:
  DeliveryError(const Error& error, bool transient, std::string left_behind = {})
      : Error(error), transient_(transient), left_behind_(std::move(left_behind)) {}
  bool transient() const { return transient_; }
  // The end of the message that names what the failed delivery left on the
  // server ("; the partial file ... could not be removed ..."), or "". A
  // job that was stopped reports why it was, and this after it.
  const std::string& left_behind() const { return left_behind_; }

 private:
  bool transient_;
  std::string left_behind_;
};

// The time source and the waits between tries. One clock may serve one
// worker thread; implementations need not be thread-safe.
class RetryClock {
 public:
  virtual ~RetryClock() = default;
  virtual std::chrono::steady_clock::time_point Now() = 0;
  // Waits `wait`; false when the wait was cut short because the run is
  // being stopped (then no further try is made).
  virtual bool Sleep(std::chrono::milliseconds wait) = 0;
};

// The real clock. `stopped` (may be empty) is asked several times a second
// during a wait, so a stop request does not wait out a long back-off.
class SteadyRetryClock : public RetryClock {
 public:
  explicit SteadyRetryClock(std::function<bool()> stopped = {}) : stopped_(std::move(stopped)) {}
  std::chrono::steady_clock::time_point Now() override;
  bool Sleep(std::chrono::milliseconds wait) override;

 private:
  std::function<bool()> stopped_;
};

// The longest wait between two tries, however many tries came before.
inline constexpr std::chrono::milliseconds kMaxRetryDelay{600000};

struct RetryPolicy {
  int retries = 0;  // tries after the first; 0: one try only
  std::chrono::milliseconds first_delay{30000};  // doubled after each retry, at most kMaxRetryDelay
  RetryClock* clock = nullptr;  // null: a SteadyRetryClock without stop
  // Receives one note per retry: what failed and how long the wait is.
  std::function<void(const std::string&)> note;
  // The job's stop flag (null: none), raised when the run is stopped or
  // the job's time limit passes: a transfer under way is aborted as soon as
  // it is raised (delivery/curl_easy.h), no further try is made, and steps
  // between transfers (the parts of an S3 upload) ask it before they begin.
  const StopFlag* stop = nullptr;
};

// The wait before retry number `retry` (1 for the first retry).
std::chrono::milliseconds RetryDelay(const RetryPolicy& policy, int retry);

// Runs `attempt` until it returns, throws anything but a transient
// DeliveryError, or the retries are used up. `total_ms` (0: none) bounds
// every try and wait together; each call of attempt receives the
// milliseconds still left (0 when unbounded). A wait that would end past
// that bound is not begun: the last failure is thrown with a remark.
// `transport` names the delivery in the notes ("FTP", "HTTP", ...).
void RunWithRetries(const std::string& transport, long total_ms, const RetryPolicy& policy,
                    const std::function<void(long ms_left)>& attempt);

}  // namespace ostrevane::delivery
