#include "delivery/curl_easy.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/path.h"
#include "common/text.h"

namespace ostrevane::delivery {
namespace {

// libcurl's global state is set up once, before the first handle of any
// worker thread; it stays for the life of the process.
void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw Exception("The network library could not be initialised");
  });
}

long Seconds(long ms) { return std::max(1L, (ms + 999) / 1000); }

std::string DurationText(long ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

long TotalMs(int timeout_seconds) { return timeout_seconds > 0 ? long(timeout_seconds) * 1000 : 0; }

std::string CaFileFromEnvironment() {
  const char* v = std::getenv("OSTREVANE_CA_FILE");
  return v ? v : "";
}

CurlList::~CurlList() { curl_slist_free_all(list_); }

void CurlList::Append(const std::string& line) {
  curl_slist* next = curl_slist_append(list_, line.c_str());
  if (!next) throw Exception("Out of memory");
  list_ = next;
}

curl_slist* CurlList::release() {
  curl_slist* l = list_;
  list_ = nullptr;
  return l;
}

CurlEasy::CurlEasy() {
  GlobalInit();
  handle_ = curl_easy_init();
  if (!handle_) throw Exception("The network library could not create a client");
  Set(CURLOPT_ERRORBUFFER, error_);
  Set(CURLOPT_NOSIGNAL, 1L);  // worker threads: no signals
  Set(CURLOPT_DEBUGFUNCTION, &CurlEasy::DebugCallback);
  Set(CURLOPT_DEBUGDATA, static_cast<void*>(this));
  Set(CURLOPT_VERBOSE, 1L);  // feeds the debug callback only; nothing is printed
  Set(CURLOPT_XFERINFOFUNCTION, &CurlEasy::ProgressCallback);
  Set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
  Set(CURLOPT_NOPROGRESS, 0L);
}

CurlEasy::~CurlEasy() { curl_easy_cleanup(handle_); }

void CurlEasy::Check(CURLoption option, CURLcode rc) {
  if (rc != CURLE_OK)
    throw Exception("The network library refused option " + std::to_string(int(option)) +
                    ": " + curl_easy_strerror(rc));
}

void CurlEasy::ApplyLimits(const TransferLimits& limits) {
  SetTimeLimits(limits);
  if (!limits.ca_file.empty()) Set(CURLOPT_CAINFO, limits.ca_file);
  // Proxies come from settings.ini only, never from the environment.
  Set(CURLOPT_PROXY, "");
}

void CurlEasy::SetTimeLimits(const TransferLimits& limits) {
  Set(CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
  // A stalled peer: no reply to a command (libcurl's own limit), or no
  // traffic at all (the watchdog).
  Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, Seconds(limits.idle_ms));
  idle_ms_ = limits.idle_ms;
  total_ms_ = limits.total_ms;
  stop_ = limits.stop;
  if (total_ms_ > 0)
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(limits.left_ms > 0 ? limits.left_ms : total_ms_);
}

CURLcode CurlEasy::Perform() {
  using std::chrono::milliseconds;
  error_[0] = '\0';
  trace_.Reset();
  active_ = idle_expired_ = deadline_expired_ = stopped_ = false;
  if (total_ms_ <= 0) return curl_easy_perform(handle_);
  // Each transfer gets what is left of the delivery's time; libcurl ends
  // it then, in whatever phase it is.
  const auto left =
      std::chrono::duration_cast<milliseconds>(deadline_ - std::chrono::steady_clock::now());
  if (left <= milliseconds(0)) {
    deadline_expired_ = true;
    return CURLE_OPERATION_TIMEDOUT;
  }
  Set(CURLOPT_TIMEOUT_MS, long(left.count()));
  const CURLcode rc = curl_easy_perform(handle_);
  // A connect time-out that ran out before the deadline keeps its own text.
  if (rc == CURLE_OPERATION_TIMEDOUT &&
      std::chrono::steady_clock::now() + milliseconds(20) >= deadline_)
    deadline_expired_ = true;
  return rc;
}

int CurlEasy::DebugCallback(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  auto* easy = static_cast<CurlEasy*>(self);
  if (type == CURLINFO_TEXT) return 0;
  easy->active_ = true;
  easy->last_traffic_ = std::chrono::steady_clock::now();
  if (type == CURLINFO_DATA_OUT) easy->trace_.OnData();
  if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) return 0;
  std::string_view text(data, size);
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) {
      if (type == CURLINFO_HEADER_OUT)
        easy->trace_.OnCommand(line);
      else
        easy->trace_.OnReply(line);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}

int CurlEasy::ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* easy = static_cast<CurlEasy*>(self);
  if (easy->stop_ && easy->stop_->raised()) {
    easy->stopped_ = true;
    return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  // Before the first byte moves, the connect time-out is in charge.
  if (!easy->active_ || easy->idle_ms_ <= 0) return 0;
  const auto silent = std::chrono::steady_clock::now() - easy->last_traffic_;
  if (silent < std::chrono::milliseconds(easy->idle_ms_)) return 0;
  easy->idle_expired_ = true;
  return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
}

void CurlEasy::ShutDownConnection() {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(handle_, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
      socket != CURL_SOCKET_BAD)
    ::shutdown(socket, SHUT_RDWR);
}

std::string CurlEasy::ErrorText(CURLcode code) const {
  if (stopped_) return "The transfer was aborted: the job was stopped";
  if (deadline_expired_)
    return "Timed out: the delivery took longer than the delivery_timeout of " +
           DurationText(total_ms_);
  if (idle_expired_)
    return "Timed out: the server sent nothing for " + std::to_string(idle_ms_) + " ms";
  std::string text = error_[0] ? std::string(error_) : std::string(curl_easy_strerror(code));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

long CurlEasy::ResponseCode() const {
  long code = 0;
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

bool TransientTransferFailure(CURLcode rc, const CurlEasy& easy) {
  if (easy.deadline_expired()) return false;  // no time left to try again
  switch (rc) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_SSH:  // the session could not be set up or broke off
      return true;
    case CURLE_ABORTED_BY_CALLBACK:
      return easy.idle_expired();
    default:
      return false;
  }
}

bool TransientReply(const std::string& reply) {
  return reply.size() >= 3 && reply[0] == '4' && std::isdigit(static_cast<unsigned char>(reply[1])) &&
         std::isdigit(static_cast<unsigned char>(reply[2]));
}

size_t UploadSource::ReadCallback(char* buffer, size_t size, size_t count, void* self) {
  return static_cast<UploadSource*>(self)->Read(buffer, size * count);
}

int UploadSource::SeekCallback(void* self, curl_off_t offset, int origin) {
  if (origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  return static_cast<UploadSource*>(self)->Seek(offset) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

void UploadSource::AttachAsUpload(CurlEasy& easy) {
  easy.Set(CURLOPT_READFUNCTION, &UploadSource::ReadCallback);
  easy.Set(CURLOPT_READDATA, static_cast<void*>(this));
  easy.Set(CURLOPT_SEEKFUNCTION, &UploadSource::SeekCallback);
  easy.Set(CURLOPT_SEEKDATA, static_cast<void*>(this));
}

FileSource::FileSource(const std::string& path) : path_(NormalizePath(path)) { Adopt(-1); }

FileSource::FileSource(const Job& job, const std::string& path) : path_(NormalizePath(path)) {
  int fd = -1;
  for (const WrittenFile& file : job.written_digests)
    if (file.path == path && file.kept) {
      // A descriptor of its own: several sources may read one file.
      fd = fcntl(file.kept->get(), F_DUPFD_CLOEXEC, 0);
      if (fd < 0)
        throw Error(kEFOpenError, "Cannot open file \"" + CutForMessage(AbsolutePath(path_)) +
                                      "\". " + std::strerror(errno));
      kept_ = true;
      break;
    }
  Adopt(fd);
}

FileSource::FileSource(const Job& job, const std::string& path, curl_off_t offset,
                       curl_off_t length)
    : FileSource(job, path) {
  offset_ = std::min(std::max<curl_off_t>(offset, 0), size_);
  size_ = std::min(std::max<curl_off_t>(length, 0), size_ - offset_);
}

void FileSource::Adopt(int fd) {
  fd_ = fd >= 0 ? fd : open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = fd_ < 0 ? errno : (S_ISDIR(st.st_mode) ? EISDIR : errno);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    throw Error(kEFOpenError, "Cannot open file \"" + CutForMessage(AbsolutePath(path_)) + "\". " +
                                  std::strerror(err));
  }
  size_ = st.st_size;
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

size_t FileSource::Read(char* buffer, size_t length) {
  length = size_t(std::min<curl_off_t>(curl_off_t(length), size_ - read_));
  for (;;) {
    // At its own offset: a kept descriptor's duplicates share one position.
    ssize_t n = length == 0 ? 0 : pread(fd_, buffer, length, offset_ + read_);
    if (n >= 0) {
      read_ += n;
      return size_t(n);
    }
    if (errno == EINTR) continue;
    read_error_ =
        "Cannot read file \"" + CutForMessage(AbsolutePath(path_)) + "\". " + std::strerror(errno);
    return CURL_READFUNC_ABORT;
  }
}

bool FileSource::Seek(curl_off_t offset) {
  if (offset < 0 || offset > size_) return false;
  read_ = offset;
  return true;
}

size_t TextSource::Read(char* buffer, size_t length) {
  const size_t n = std::min(length, text_.size() - pos_);
  std::memcpy(buffer, text_.data() + pos_, n);
  pos_ += n;
  return n;
}

bool TextSource::Seek(curl_off_t offset) {
  if (offset < 0 || size_t(offset) > text_.size()) return false;
  pos_ = size_t(offset);
  return true;
}

void ProtocolTrace::Reset() { *this = ProtocolTrace(); }

bool ProtocolTrace::Sent(std::string_view verb) const {
  return std::find(verbs_.begin(), verbs_.end(), verb) != verbs_.end();
}

std::string ProtocolTrace::ErrorReply() const {
  if (last_reply_.size() >= 3 && (last_reply_[0] == '4' || last_reply_[0] == '5')) return last_reply_;
  return "";
}

void ProtocolTrace::OnCommand(std::string_view line) {
  // Only these verbs are kept: any other line sent (the user name and
  // password lines of AUTH LOGIN) is dropped unread.
  static constexpr std::string_view kVerbs[] = {
      "EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT", "RSET",
      "USER", "PASS", "ACCT", "PWD",  "CWD",  "EPSV", "PASV", "TYPE", "STOR", "SIZE"};
  std::string_view verb = line.substr(0, line.find(' '));
  for (std::string_view v : kVerbs) {
    if (verb == v) {
      verbs_.emplace_back(v);
      return;
    }
  }
}

void ProtocolTrace::OnReply(std::string_view line) {
  // The answer to QUIT says nothing about the failure before it.
  if (!Sent("QUIT")) last_reply_.assign(line.substr(0, 300));
  // "250-AUTH LOGIN PLAIN" or "250 AUTH=LOGIN" in the answer to EHLO.
  if (line.size() > 9 && line.substr(0, 3) == "250" && IStartsWith(line.substr(4), "AUTH")) {
    char sep = line[8];
    if (sep == ' ' || sep == '=') {
      if (!auth_mechanisms_.empty()) auth_mechanisms_ += ' ';
      auth_mechanisms_ += ToUpperAscii(line.substr(9));
    }
  }
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string UrlHost(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

}  // namespace ostrevane::delivery
