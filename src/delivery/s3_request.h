// Signed requests to an S3-compatible object store, over the one
// connection of an S3Client: libcurl signs each request (Signature Version
// 4), its payload's SHA-256 named in x-amz-content-sha256 so that the
// server checks the bytes it received; the answers are read for what the
// delivery needs (status, ETag, the body's first 64 KiB). One client per
// try of a delivery, on one worker thread.
#pragma once

#include <string>

#include "delivery/curl_easy.h"
#include "delivery/retry.h"

namespace ostrevane::delivery {

inline constexpr char kES3Error[] = "ES3Error";

// Who signs: an access key, its secret and, for temporary credentials, a
// session token. The secret never appears in any message.
struct S3Credentials {
  std::string access_key;
  std::string secret;
  std::string session_token;
};

struct S3Request {
  const char* method = "PUT";      // "PUT", "POST" or "DELETE"
  std::string url;                 // the whole URL, query included
  std::string payload_sha256;      // of the body: 64 lower-case hexadecimal digits
  std::string content_type;        // empty: none sent
  UploadSource* source = nullptr;  // the body of a PUT
  std::string text;                // the body of a POST
};

struct S3Response {
  CURLcode rc = CURLE_OK;
  long status = 0;
  std::string etag;  // the ETag header, quotes included
  std::string body;  // its first 64 KiB
  bool ok() const { return rc == CURLE_OK && status >= 200 && status <= 299; }
};

class S3Client {
 public:
  S3Client(const S3Credentials& credentials, const std::string& region,
           const TransferLimits& limits);
  S3Response Send(const S3Request& request);
  const CurlEasy& easy() const { return easy_; }

 private:
  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
  static size_t BodyCallback(char* data, size_t size, size_t count, void* self);

  CurlEasy easy_;
  std::string session_token_;
  S3Response response_;
};

// The SHA-256 (hexadecimal) of the bytes a source yields; the source is
// rewound afterwards. Throws Error(kEFOpenError) when it cannot be read.
std::string SourceSha256(UploadSource& source);

// The text of the first element `name` of an XML text, its entities
// decoded; "" when there is none.
std::string XmlElementText(const std::string& xml, const std::string& name);

// The failure that an answer other than success means, its message after
// `target` ("S3 bucket B at HOST: "), and whether a later try may succeed:
// a broken connection, a time-out, 408, 429, 5xx and the server's
// RequestTimeout, InternalError, SlowDown and ServiceUnavailable are
// transient; a refused signature or access key is not, and its message
// says which key to look at.
DeliveryError S3Failure(const S3Response& response, const CurlEasy& easy, const std::string& target,
                        const S3Credentials& credentials, const std::string& region);

}  // namespace ostrevane::delivery
