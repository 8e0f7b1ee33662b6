#include "delivery/s3_request.h"

#include <algorithm>

#include "common/error.h"
#include "common/sha256.h"
#include "common/text.h"

namespace ostrevane::delivery {
namespace {

constexpr size_t kBodyLimit = 64 * 1024;

// A text from the server, fit for one line of a message.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  text = Trim(text);
  if (text.size() > 300) text = text.substr(0, 300) + "...";
  return text;
}

bool TransientCode(const std::string& code) {
  return code == "RequestTimeout" || code == "InternalError" || code == "SlowDown" ||
         code == "ServiceUnavailable";
}

}  // namespace

S3Client::S3Client(const S3Credentials& credentials, const std::string& region,
                   const TransferLimits& limits)
    : session_token_(credentials.session_token) {
  easy_.ApplyLimits(limits);
  easy_.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  easy_.Set(CURLOPT_FOLLOWLOCATION, 0L);
  // Keys are sent as written: "a/../b" is a key, not a path to shorten.
  easy_.Set(CURLOPT_PATH_AS_IS, 1L);
  easy_.Set(CURLOPT_AWS_SIGV4, "aws:amz:" + region + ":s3");
  easy_.Set(CURLOPT_USERNAME, credentials.access_key);
  easy_.Set(CURLOPT_PASSWORD, credentials.secret);
  easy_.Set(CURLOPT_HEADERFUNCTION, &S3Client::HeaderCallback);
  easy_.Set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  easy_.Set(CURLOPT_WRITEFUNCTION, &S3Client::BodyCallback);
  easy_.Set(CURLOPT_WRITEDATA, static_cast<void*>(this));
}

size_t S3Client::HeaderCallback(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<S3Client*>(self);
  std::string_view line(data, size * count);
  if (IStartsWith(line, "HTTP/")) client->response_.etag.clear();  // a new answer (after 100)
  if (IStartsWith(line, "ETag:")) client->response_.etag = Trim(std::string(line.substr(5)));
  return size * count;
}

size_t S3Client::BodyCallback(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<S3Client*>(self);
  std::string& body = client->response_.body;
  body.append(data, std::min(size * count, kBodyLimit - std::min(kBodyLimit, body.size())));
  return size * count;
}

S3Response S3Client::Send(const S3Request& request) {
  CurlList headers;
  headers.Append("x-amz-content-sha256: " + request.payload_sha256);
  if (!session_token_.empty()) headers.Append("x-amz-security-token: " + session_token_);
  if (!request.content_type.empty()) headers.Append("Content-Type: " + request.content_type);
  easy_.Set(CURLOPT_HTTPHEADER, headers.get());
  easy_.Set(CURLOPT_URL, request.url);
  const std::string method = request.method;
  if (method == "PUT") {
    easy_.Set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    easy_.Set(CURLOPT_UPLOAD, 1L);
    request.source->AttachAsUpload(easy_);
    easy_.Set(CURLOPT_INFILESIZE_LARGE, request.source->size());
  } else if (method == "POST") {
    easy_.Set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    easy_.Set(CURLOPT_UPLOAD, 0L);
    easy_.Set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.text.size()));
    easy_.Set(CURLOPT_COPYPOSTFIELDS, request.text);
  } else {
    easy_.Set(CURLOPT_UPLOAD, 0L);
    easy_.Set(CURLOPT_HTTPGET, 1L);
    easy_.Set(CURLOPT_CUSTOMREQUEST, request.method);
  }
  response_ = S3Response();
  response_.rc = easy_.Perform();
  response_.status = response_.rc == CURLE_OK ? easy_.ResponseCode() : 0;
  easy_.Set(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
  return response_;
}

std::string SourceSha256(UploadSource& source) {
  Sha256 hash;
  std::string buffer(1 << 20, '\0');
  for (;;) {
    const size_t n = UploadSource::ReadCallback(buffer.data(), 1, buffer.size(), &source);
    if (n == CURL_READFUNC_ABORT) throw Error(kEFOpenError, source.read_error());
    if (n == 0) break;
    hash.Update(std::string_view(buffer.data(), n));
  }
  if (UploadSource::SeekCallback(&source, 0, SEEK_SET) != CURL_SEEKFUNC_OK)
    throw Error(kEFOpenError, "Cannot read a file to send a second time");
  return hash.HexDigest();
}

std::string XmlElementText(const std::string& xml, const std::string& name) {
  const std::string open = "<" + name + ">", close = "</" + name + ">";
  const size_t start = xml.find(open);
  if (start == std::string::npos) return "";
  const size_t end = xml.find(close, start);
  if (end == std::string::npos) return "";
  std::string text = xml.substr(start + open.size(), end - start - open.size());
  static const struct {
    const char* entity;
    const char* text;
  } kEntities[] = {{"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"},
                   {"&#34;", "\""},  {"&#39;", "'"},  {"&amp;", "&"}};
  for (const auto& e : kEntities) text = ReplaceAll(text, e.entity, e.text);
  return text;
}

DeliveryError S3Failure(const S3Response& response, const CurlEasy& easy, const std::string& target,
                        const S3Credentials& credentials, const std::string& region) {
  if (response.rc != CURLE_OK)
    return DeliveryError(Error(kES3Error, target + easy.ErrorText(response.rc)),
                         TransientTransferFailure(response.rc, easy));
  const std::string code = OneLine(XmlElementText(response.body, "Code"));
  const std::string message = OneLine(XmlElementText(response.body, "Message"));
  const long status = response.status;
  std::string detail = "HTTP status " + std::to_string(status);
  if (!code.empty()) detail += ", " + code;
  if (!message.empty()) detail += ": " + message;
  std::string text;
  if (code == "SignatureDoesNotMatch")
    text =
        "the server did not accept the request's signature: the secret key is not the one "
        "of access key \"" +
        credentials.access_key + "\", or the bucket is not in region \"" + region + "\" (" +
        detail + ")";
  else if (code == "InvalidAccessKeyId")
    text =
        "the server does not know access key \"" + credentials.access_key + "\" (" + detail + ")";
  else if (code == "RequestTimeTooSkewed")
    text = "the server refused the request's time: this computer's clock is off (" + detail + ")";
  else if (code == "NoSuchBucket")
    text = "the bucket does not exist (" + detail + ")";
  else if (code == "XAmzContentSHA256Mismatch")
    text = "the bytes that arrived do not have the SHA-256 the file had when it was written (" +
           detail + ")";
  else
    text = detail;
  const bool transient = !easy.deadline_expired() &&
                         (status >= 500 || status == 429 || status == 408 || TransientCode(code));
  return DeliveryError(Error(kES3Error, target + text), transient);
}

}  // namespace ostrevane::delivery
