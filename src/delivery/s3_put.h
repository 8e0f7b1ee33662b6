// S3 delivery: every file of a job stored as an object of one bucket of an
// S3-compatible object store, its key the job's prefix and the file's name.
// A file up to MultipartThreshold goes in one PUT; a larger one as a
// multipart upload, part by part, completed only when every part is there,
// so that an object appears whole or not at all. A multipart upload that
// cannot be completed (its retries used up, a permanent failure, the
// delivery_timeout, a stop of the run) is aborted, so that no parts stay
// behind in the bucket.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "control/job.h"
#include "delivery/delivery.h"
#include "delivery/s3_request.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

// Where the objects of the bucket are.
struct S3Location {
  std::string scheme;  // "https" or "http"
  std::string host;    // as given, an IPv6 address in brackets
  std::string port;    // "" when the endpoint names none
  std::string bucket;
  bool path_style = false;
  // "https://host:port/bucket/KEY" or "https://bucket.host:port/KEY", the
  // key percent-encoded as the signature wants it (S3EncodeKey).
  std::string ObjectUrl(const std::string& key) const;
  std::string Authority() const;  // "host:port" or "host"
};
// From section S3: throws Exception naming the key of settings.ini for a
// missing or unusable Endpoint or Bucket.
S3Location S3LocationFor(const S3Settings& s3);

// The object key of a file: the prefix taken as a folder ("a/b" and "a/b/"
// both give "a/b/NAME"; leading "/" dropped), then the file's name.
std::string S3ObjectKey(const std::string& prefix, const std::string& file_name);

// A key in a URL path: every byte but A-Z a-z 0-9 - _ . ~ and "/"
// percent-encoded, hexadecimal digits in upper case.
std::string S3EncodeKey(const std::string& key);

// AccessKey and Secret of section S3, or with no AccessKey there, the
// environment's AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and
// AWS_SESSION_TOKEN. Throws Error(kES3Error) when neither has a key and a
// secret.
S3Credentials S3CredentialsFor(const S3Settings& s3);

// The size of the parts of a file of `size` bytes: PartSize, made larger
// when the file would need more than 10,000 parts. Throws Exception naming
// the key for a PartSize or MultipartThreshold outside 5 to 5120 (MiB).
int64_t S3PartSize(const S3Settings& s3, int64_t size);

// How far a delivery got over its tries: a retry goes on with the file,
// and within a multipart upload with the part, where the last try stopped.
struct S3Progress {
  size_t files_done = 0;
  std::string upload_id;  // the multipart upload of file number files_done, if begun
  std::string upload_key;
  std::vector<std::string> part_etags;  // of its parts stored, in order
};

// One try of UploadFilesToS3 with other limits than the defaults. The
// job's stop flag (limits.stop) aborts a transfer under way, and is asked
// before every part and before a multipart upload is completed.
void PutObjectsWithLimits(const Job& job, const S3Settings& s3, const S3Credentials& credentials,
                          const TransferLimits& limits, S3Progress& progress,
                          std::vector<StoredObject>& stored);

// PutObjectsWithLimits tried again on transient failures; on the final
// failure a multipart upload under way is aborted (with its own short
// time-outs, after a stop as well, then within a few seconds), and the
// error says when that failed.
void PutObjectsWithRetries(const Job& job, const S3Settings& s3, const TransferLimits& limits,
                           const RetryPolicy& policy, std::vector<StoredObject>& stored);

}  // namespace ostrevane::delivery
