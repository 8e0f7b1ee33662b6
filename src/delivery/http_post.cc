#include "delivery/http_post.h"

#include <algorithm>
#include <map>

#include "common/codepage.h"
#include "common/error.h"
#include "common/text.h"
#include "delivery/delivery.h"
#include "delivery/file_type.h"

namespace ostrevane {
namespace delivery {
namespace {

// Keeps the status line of the last response (after a proxy's CONNECT
// answer or an authentication round the final one is the last).
size_t HeaderCallback(char* data, size_t size, size_t count, void* status_line) {
  const std::string_view line(data, size * count);
  if (line.substr(0, 5) == "HTTP/") {
    auto* s = static_cast<std::string*>(status_line);
    s->assign(line);
    while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
  }
  return size * count;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// A server that is busy or failing may answer otherwise later; any other
// refusal will not change.
bool TransientStatus(long code) { return code == 408 || code == 429 || (code >= 500 && code <= 599); }

}  // namespace

std::string UrlWithoutCredentials(const std::string& url) {
  const size_t scheme_end = url.find("://");
  const size_t authority = scheme_end == std::string::npos ? 0 : scheme_end + 3;
  const size_t path = std::min(url.find_first_of("/?#", authority), url.size());
  const size_t at = std::string_view(url).substr(authority, path - authority).rfind('@');
  if (at == std::string_view::npos) return url;
  return url.substr(0, authority) + url.substr(authority + at + 1);
}

TransferLimits DefaultTransferLimits() {
  TransferLimits limits;
  limits.connect_ms = 60000;
  limits.idle_ms = 60000;
  limits.ca_file = CaFileFromEnvironment();
  return limits;
}

void PostFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                         size_t* files_done) {
  if (Trim(job.http_url).empty()) throw Error(kEHTTPError, "no HTTP server is set in settings.ini");
  const std::string target = "HTTP POST to " + UrlWithoutCredentials(job.http_url) + ": ";
  // One header list per kind of file (the Content-Type differs); they
  // outlive the handle that points to them.
  std::map<std::string, CurlList> headers_by_type;
  std::string status_line;
  CurlEasy easy;
  easy.ApplyLimits(limits);
  // Only HTTP: a URL without a scheme is taken as http://, never guessed as
  // another protocol from its host name.
  easy.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  easy.Set(CURLOPT_DEFAULT_PROTOCOL, "http");
  easy.Set(CURLOPT_URL, job.http_url);
  easy.Set(CURLOPT_FOLLOWLOCATION, 0L);
  easy.Set(CURLOPT_POST, 1L);

  if (!proxy.server.empty()) {
    easy.Set(CURLOPT_PROXY, proxy.server);
    easy.Set(CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
    easy.Set(CURLOPT_PROXYPORT, long(static_cast<uint16_t>(proxy.port)));
    if (!proxy.login.empty()) {
      easy.Set(CURLOPT_PROXYUSERNAME, proxy.login);
      easy.Set(CURLOPT_PROXYPASSWORD, proxy.password);
      // Basic alone is sent with the first request; the open choice waits
      // for the proxy's 407 to learn which method it wants.
      easy.Set(CURLOPT_PROXYAUTH, proxy.auth ? long(CURLAUTH_BASIC) : long(CURLAUTH_ANY));
    }
  }

  auto headers_for = [&](const std::string& path) {
    const std::string type = WrittenFileContentType(job, path);
    auto [it, added] = headers_by_type.try_emplace(type);
    if (added) {
      it->second.Append("Expect:");  // no 100-continue round trip before the body
      if (!job.http_login.empty()) it->second.Append("Accept: */*");
      it->second.Append("Content-Type: " + type);
    }
    return it->second.get();
  };

  if (!job.http_login.empty()) {
    easy.Set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    easy.Set(CURLOPT_USERNAME, job.http_login);
    easy.Set(CURLOPT_PASSWORD, job.http_password);
  }

  easy.Set(CURLOPT_HEADERFUNCTION, &HeaderCallback);
  easy.Set(CURLOPT_HEADERDATA, static_cast<void*>(&status_line));
  easy.Set(CURLOPT_WRITEFUNCTION, &DiscardBody);

  for (size_t i = files_done ? *files_done : 0; i < job.written_files.size(); ++i) {
    const std::string& path = job.written_files[i];
    easy.Set(CURLOPT_HTTPHEADER, headers_for(path));
    FileSource body(job, path);
    body.AttachAsUpload(easy);
    easy.Set(CURLOPT_POSTFIELDSIZE_LARGE, body.size());
    status_line.clear();
    const CURLcode rc = easy.Perform();
    if (rc != CURLE_OK) {
      if (!body.read_error().empty()) throw Error(kEFOpenError, body.read_error());
      throw DeliveryError(Error(kEHTTPError, target + easy.ErrorText(rc)),
                          TransientTransferFailure(rc, easy));
    }
    const long code = easy.ResponseCode();
    if (code < 200 || code > 299)
      throw DeliveryError(
          Error(kEHTTPError, target + (status_line.empty() ? "HTTP status " + std::to_string(code)
                                                           : status_line)),
          TransientStatus(code));
    if (files_done) *files_done = i + 1;
  }
}

void PostFilesWithRetries(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                          const RetryPolicy& policy) {
  size_t files_done = 0;
  RetryTransfer("HTTP", limits, policy, [&](const TransferLimits& attempt) {
    PostFilesWithLimits(job, proxy, attempt, &files_done);
  });
}

}  // namespace delivery

void PostFilesOverHttp(const Job& job, const ServerSettings& proxy, const DeliveryPolicy& policy) {
  delivery::TransferLimits limits = delivery::DefaultTransferLimits();
  limits.total_ms = delivery::TotalMs(policy.timeout_seconds);
  delivery::PostFilesWithRetries(job, proxy, limits, policy.retry);
}

}  // namespace ostrevane
