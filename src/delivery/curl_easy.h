// Owners of the libcurl objects that the deliveries use, and what the three
// deliveries share: time-out limits, the CA file to trust, upload sources
// and a trace of the protocol dialogue. Every object here belongs to one
// delivery call on one worker thread; nothing is shared between threads.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/stop_flag.h"
#include "control/job.h"
#include "delivery/retry.h"

namespace ostrevane::delivery {

// Class names of the protocol clients' errors.
inline constexpr char kESMTPError[] = "ESMTPError";
inline constexpr char kEHTTPError[] = "EHTTPError";
inline constexpr char kEFTPError[] = "EFTPError";

// How long a transfer may wait. connect_ms bounds the connection (for mail:
// also greeting, EHLO, STARTTLS and login); idle_ms bounds every wait for a
// reply and every stall of the data (whole seconds, rounded up); total_ms
// bounds the whole delivery, every transfer of the handle from
// ApplyLimits on, however busy the server keeps it (0: no such bound).
struct TransferLimits {
  long connect_ms = 10000;
  long idle_ms = 10000;
  long total_ms = 0;
  // What is left of total_ms for this try when the delivery is retried
  // (0: all of it); messages still name total_ms.
  long left_ms = 0;
  // PEM file of the certificate authorities to trust instead of the
  // system's store; empty: the system's store.
  std::string ca_file;
  // The job's stop flag (null: none); a transfer ends once it is raised.
  const StopFlag* stop = nullptr;
};

// Runs `transfer(const TransferLimits&)` under `policy` (RunWithRetries):
// every try gets `limits` with left_ms set to what is left of total_ms.
template <typename Transfer>
void RetryTransfer(const std::string& transport, const TransferLimits& limits,
                   const RetryPolicy& policy, Transfer transfer) {
  RunWithRetries(transport, limits.total_ms, policy, [&](long ms_left) {
    TransferLimits attempt = limits;
    attempt.left_ms = ms_left;
    attempt.stop = policy.stop;
    transfer(attempt);
  });
}

// TransferLimits::total_ms for a time-out in seconds; 0 or less: none.
long TotalMs(int timeout_seconds);

// The value of the environment variable OSTREVANE_CA_FILE, or "".
std::string CaFileFromEnvironment();

// A curl_slist of header or recipient lines.
class CurlList {
 public:
  CurlList() = default;
  ~CurlList();
  CurlList(const CurlList&) = delete;
  CurlList& operator=(const CurlList&) = delete;

  void Append(const std::string& line);
  curl_slist* get() const { return list_; }
  // Hands the list to a libcurl call that takes ownership.
  curl_slist* release();

 private:
  curl_slist* list_ = nullptr;
};

// Follows the command/reply dialogue of a mail or FTP transfer through
// libcurl's debug callback. It keeps only the verbs of the commands sent
// (from a fixed list, so credentials sent after AUTH LOGIN or with PASS are
// never kept) and the server's last reply line.
class ProtocolTrace {
 public:
  void Reset();
  // One line of the dialogue, without its line end.
  void OnCommand(std::string_view line);
  void OnReply(std::string_view line);
  void OnData() { data_sent_ = true; }

  bool Sent(std::string_view verb) const;
  const std::vector<std::string>& verbs() const { return verbs_; }
  bool data_sent() const { return data_sent_; }
  // The server's last reply line before QUIT, when it was an error reply
  // (4xx or 5xx).
  std::string ErrorReply() const;
  // The mechanisms of the server's AUTH announcement (EHLO), upper case,
  // space separated; empty when it announced none.
  const std::string& auth_mechanisms() const { return auth_mechanisms_; }

 private:
  std::vector<std::string> verbs_;
  std::string last_reply_;
  std::string auth_mechanisms_;
  bool data_sent_ = false;
};

// An easy handle with its own error buffer. Set() throws when libcurl
// refuses an option (an option this libcurl does not know, or no memory).
// It watches the traffic of each transfer: the protocol trace, and an idle
// watchdog that ends a transfer once its connection has been silent in both
// directions for the idle time (libcurl's own low-speed check lags by
// several seconds, and it has no limit for the wait for an HTTP answer).
// The same progress callback ends a transfer whose job was stopped: libcurl
// calls it at least once a second, however stalled the peer.
class CurlEasy {
 public:
  CurlEasy();
  ~CurlEasy();
  CurlEasy(const CurlEasy&) = delete;
  CurlEasy& operator=(const CurlEasy&) = delete;

  CURL* get() const { return handle_; }

  template <class T>
  void Set(CURLoption option, T value) {
    Check(option, curl_easy_setopt(handle_, option, value));
  }
  void Set(CURLoption option, const std::string& value) { Set(option, value.c_str()); }

  // Connect and idle time-outs, the CA file, no proxy from the environment
  // unless one is set later. The delivery's deadline starts now.
  void ApplyLimits(const TransferLimits& limits);
  // Only the time-outs and the deadline of ApplyLimits, every other option
  // kept: for a short clean-up on the connection of a failed transfer.
  void SetTimeLimits(const TransferLimits& limits);

  // Runs one transfer; the trace and the watchdog start afresh, the
  // deadline goes on.
  CURLcode Perform();
  // libcurl's detail message of the last failure when it wrote one, else
  // the text of `code`. Never holds credentials: they are never put in URLs.
  std::string ErrorText(CURLcode code) const;
  long ResponseCode() const;
  const ProtocolTrace& trace() const { return trace_; }
  // The last transfer was ended by the idle watchdog.
  bool idle_expired() const { return idle_expired_; }
  // The last transfer was ended by the delivery's deadline.
  bool deadline_expired() const { return deadline_expired_; }
  // The last transfer was ended because its job was stopped.
  bool stopped() const { return stopped_; }
  // Shuts the connection that the last transfer left open down, so that
  // libcurl's farewell when the handle goes (FTP's QUIT) does not wait for
  // a server that stopped answering.
  void ShutDownConnection();

 private:
  void Check(CURLoption option, CURLcode rc);
  static int DebugCallback(CURL*, curl_infotype type, char* data, size_t size, void* self);
  static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  CURL* handle_ = nullptr;
  char error_[CURL_ERROR_SIZE] = {};
  ProtocolTrace trace_;
  long idle_ms_ = 0;
  bool active_ = false;  // traffic seen: the connection is up
  bool idle_expired_ = false;
  long total_ms_ = 0;
  std::chrono::steady_clock::time_point deadline_;  // with total_ms_ > 0
  bool deadline_expired_ = false;
  const StopFlag* stop_ = nullptr;
  bool stopped_ = false;  // the last transfer ended because its job was stopped
  std::chrono::steady_clock::time_point last_traffic_;
};

// Whether a transfer that ended with `rc` may succeed when tried again: a
// refused, reset or dropped connection, a failed SSH handshake, or a time-out
// other than the delivery's own deadline.
bool TransientTransferFailure(CURLcode rc, const CurlEasy& easy);

// Whether a server's error reply line ("421 ...", "550 ...") asks to try
// again later: SMTP and FTP replies of the 4xx class.
bool TransientReply(const std::string& reply);

// Bytes that libcurl reads for an upload: a local file (opened at
// construction, so a file that cannot be opened fails before any network
// work) or a text held in memory. Rewinds when libcurl asks to.
class UploadSource {
 public:
  virtual ~UploadSource() = default;
  virtual curl_off_t size() const = 0;
  // Set when a read failed; the message names the file.
  const std::string& read_error() const { return read_error_; }

  // READFUNCTION/READDATA and SEEKFUNCTION/SEEKDATA of an upload.
  void AttachAsUpload(CurlEasy& easy);

  static size_t ReadCallback(char* buffer, size_t size, size_t count, void* self);
  static int SeekCallback(void* self, curl_off_t offset, int origin);

 protected:
  virtual size_t Read(char* buffer, size_t length) = 0;  // CURL_READFUNC_ABORT on failure
  virtual bool Seek(curl_off_t offset) = 0;
  std::string read_error_;
};

class FileSource : public UploadSource {
 public:
  // Throws Error(kEFOpenError) naming the file when it cannot be opened.
  explicit FileSource(const std::string& path);
  // A file of job.written_files: read through the descriptor the job kept
  // of it (WrittenFile::kept), so the bytes the job wrote even when another
  // job has replaced the file since; else opened by name.
  FileSource(const Job& job, const std::string& path);
  // The `length` bytes from `offset` on: a part of the file (fewer when
  // the file ends before).
  FileSource(const Job& job, const std::string& path, curl_off_t offset, curl_off_t length);
  ~FileSource() override;
  curl_off_t size() const override { return size_; }
  // Whether the bytes are read through the job's kept descriptor: then the
  // writer's size and checksum are theirs.
  bool kept() const { return kept_; }

 protected:
  size_t Read(char* buffer, size_t length) override;
  bool Seek(curl_off_t offset) override;

 private:
  // Takes `fd` (or, when it is -1, the file opened by name) and its size.
  void Adopt(int fd);

  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
  curl_off_t offset_ = 0;  // where the bytes begin in the file
  curl_off_t size_ = 0;
  curl_off_t read_ = 0;  // bytes handed out since the start or the last seek
};

class TextSource : public UploadSource {
 public:
  explicit TextSource(std::string text) : text_(std::move(text)) {}
  curl_off_t size() const override { return curl_off_t(text_.size()); }

 protected:
  size_t Read(char* buffer, size_t length) override;
  bool Seek(curl_off_t offset) override;

 private:
  std::string text_;
  size_t pos_ = 0;
};

// Percent-encodes every byte but the unreserved URL characters.
std::string UrlEncode(std::string_view text);

// A host name ready for a URL: an IPv6 literal gets its brackets.
std::string UrlHost(const std::string& host);

}  // namespace ostrevane::delivery
