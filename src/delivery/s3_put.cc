#include "delivery/s3_put.h"

#include <algorithm>
#include <cstdlib>

#include "common/error.h"
#include "common/path.h"
#include "common/sha256.h"
#include "common/text.h"
#include "delivery/file_type.h"
#include "delivery/http_post.h"

namespace ostrevane {
namespace delivery {
namespace {

constexpr int64_t kMiB = int64_t(1) << 20;
constexpr int64_t kMaxParts = 10000;
constexpr int32_t kSmallestPartMib = 5;    // S3's least part size (but the last)
constexpr int32_t kLargestPartMib = 5120;  // and its largest part and single PUT

[[noreturn]] void BadSetting(const std::string& text) {
  throw Exception(text + " (section S3 of settings.ini)");
}

bool IsIpAddress(const std::string& host) {
  return host.front() == '[' ||
         std::all_of(host.begin(), host.end(), [](char c) { return IsAsciiDigit(c) || c == '.'; });
}

// A bucket name that can be the first label of a host name.
bool DnsBucket(const std::string& bucket, bool https) {
  return bucket.size() >= 3 && bucket.size() <= 63 &&
         std::all_of(bucket.begin(), bucket.end(),
                     [&](char c) {
                       return (c >= 'a' && c <= 'z') || IsAsciiDigit(c) || c == '-' ||
                              (c == '.' && !https);
                     }) &&
         bucket.front() != '-' && bucket.back() != '-';
}

std::string Unquoted(std::string etag) {
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"')
    etag = etag.substr(1, etag.size() - 2);
  return etag;
}

// The digest the writer took of the bytes `source` reads: only when they
// come through the job's kept descriptor. A file opened by name may have
// been replaced since the writer's digest, by a later job of the same name.
std::string WrittenSha256(const Job& job, const std::string& path, const FileSource& source) {
  if (!source.kept()) return "";
  for (const WrittenFile& file : job.written_digests)
    if (file.path == path && file.bytes == source.size() && file.sha256.size() == 64)
      return file.sha256;
  return "";
}

std::string Query(const std::string& upload_id) { return "uploadId=" + UrlEncode(upload_id); }

// The body that completes a multipart upload: every part with its ETag.
std::string CompletionXml(const std::vector<std::string>& etags) {
  std::string xml = "<CompleteMultipartUpload xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
  for (size_t i = 0; i < etags.size(); ++i) {
    std::string etag = ReplaceAll(etags[i], "&", "&amp;");
    etag = ReplaceAll(ReplaceAll(etag, "<", "&lt;"), ">", "&gt;");
    xml += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" + etag +
           "</ETag></Part>";
  }
  return xml + "</CompleteMultipartUpload>";
}

// "S3 bucket B at HOST: " before every failure of a transfer.
std::string TargetText(const S3Location& at) {
  return "S3 bucket " + at.bucket + " at " + at.Authority() + ": ";
}

[[noreturn]] void Stopped(const std::string& target, const std::string& key) {
  throw DeliveryError(
      Error(kES3Error, target + "the run was stopped before object " + key + " was complete"),
      false);
}

// Aborts the multipart upload of `progress`, on a connection of its own with
// short time-outs (never the job's stop: the abort must go out after a stop
// too, then within a few seconds, as the run must end). Returns "" when it
// is gone, else the sentence for the error.
std::string AbortUpload(const S3Location& at, const S3Credentials& credentials,
                        const S3Settings& s3, const TransferLimits& limits,
                        const S3Progress& progress, bool stopped) {
  const long wait_ms = stopped ? 3000L : 10000L;
  TransferLimits cleanup;
  cleanup.connect_ms = std::min(limits.connect_ms, wait_ms);
  cleanup.idle_ms = std::min(limits.idle_ms, wait_ms);
  cleanup.total_ms = stopped ? wait_ms : 20000;
  cleanup.ca_file = limits.ca_file;
  S3Client client(credentials, s3.region, cleanup);
  S3Request request;
  request.method = "DELETE";
  request.url = at.ObjectUrl(progress.upload_key) + "?" + Query(progress.upload_id);
  request.payload_sha256 = Sha256Hex("");
  const S3Response response = client.Send(request);
  if (response.ok() ||
      (response.status == 404 && XmlElementText(response.body, "Code") == "NoSuchUpload"))
    return "";
  const DeliveryError why = S3Failure(response, client.easy(), "", credentials, s3.region);
  return "; the multipart upload of " + progress.upload_key + " could not be aborted (" +
         why.message() + "): its parts stay in the bucket until upload ID " + progress.upload_id +
         " is aborted";
}

}  // namespace

std::string S3Location::Authority() const { return port.empty() ? host : host + ":" + port; }

std::string S3Location::ObjectUrl(const std::string& key) const {
  if (path_style)
    return scheme + "://" + Authority() + "/" + S3EncodeKey(bucket) + "/" + S3EncodeKey(key);
  return scheme + "://" + bucket + "." + Authority() + "/" + S3EncodeKey(key);
}

S3Location S3LocationFor(const S3Settings& s3) {
  S3Location at;
  std::string rest = Trim(s3.endpoint);
  if (rest.empty()) throw Error(kES3Error, "no S3 endpoint is set in settings.ini");
  const std::string given = rest;
  at.scheme = "https";
  if (IStartsWith(rest, "https://")) {
    rest.erase(0, 8);
  } else if (IStartsWith(rest, "http://")) {
    at.scheme = "http";
    rest.erase(0, 7);
  } else if (rest.find("://") != std::string::npos) {
    BadSetting("Endpoint \"" + given + "\" must begin with https:// or http://");
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty() || rest.find_first_of("/?#@ ") != std::string::npos)
    BadSetting("Endpoint \"" + given + "\" must be a host name (and port), without a path");
  const size_t close = rest.rfind(']');
  const size_t colon = rest.rfind(':');
  at.host = rest;
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    at.host = rest.substr(0, colon);
    at.port = rest.substr(colon + 1);
    if (at.port.empty() || !std::all_of(at.port.begin(), at.port.end(), IsAsciiDigit) ||
        std::atoi(at.port.c_str()) < 1 || std::atoi(at.port.c_str()) > 65535 || at.host.empty())
      BadSetting("Endpoint \"" + given + "\" has no valid port");
  }
  at.bucket = Trim(s3.bucket);
  at.path_style = s3.path_style;
  if (at.bucket.empty()) throw Error(kES3Error, "no S3 bucket is set in settings.ini");
  if (at.bucket.find_first_of("/ ") != std::string::npos)
    BadSetting("Bucket \"" + at.bucket + "\" is no bucket name");
  if (!at.path_style) {
    if (IsIpAddress(at.host))
      BadSetting("Endpoint \"" + given + "\" is an address: set PathStyle=1");
    if (!DnsBucket(at.bucket, at.scheme == "https"))
      BadSetting("Bucket \"" + at.bucket + "\" cannot be part of a host name" +
                 (at.scheme == "https" && at.bucket.find('.') != std::string::npos
                      ? " that its certificate covers"
                      : "") +
                 ": set PathStyle=1");
  }
  return at;
}

std::string S3ObjectKey(const std::string& prefix, const std::string& file_name) {
  std::string key = prefix;
  while (!key.empty() && key.front() == '/') key.erase(0, 1);
  if (!key.empty() && key.back() != '/') key += '/';
  return key + file_name;
}

std::string S3EncodeKey(const std::string& key) {
  std::string out;
  size_t at = 0;
  for (;;) {
    const size_t slash = key.find('/', at);
    out += UrlEncode(std::string_view(key).substr(at, slash - at));
    if (slash == std::string::npos) return out;
    out += '/';
    at = slash + 1;
  }
}

S3Credentials S3CredentialsFor(const S3Settings& s3) {
  S3Credentials c;
  if (!Trim(s3.access_key).empty()) {
    c.access_key = Trim(s3.access_key);
    c.secret = s3.secret;
    if (c.secret.empty())
      throw Error(kES3Error, "section S3 of settings.ini names AccessKey \"" + c.access_key +
                                 "\", but no secret key is set (set it with -sets3secret)");
    return c;
  }
  auto variable = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  c.access_key = variable("AWS_ACCESS_KEY_ID");
  c.secret = variable("AWS_SECRET_ACCESS_KEY");
  c.session_token = variable("AWS_SESSION_TOKEN");
  if (c.access_key.empty() || c.secret.empty())
    throw Error(kES3Error,
                "no S3 access key: set AccessKey in section S3 of settings.ini and the secret "
                "key with -sets3secret, or AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY in the "
                "environment");
  return c;
}

int64_t S3PartSize(const S3Settings& s3, int64_t size) {
  for (const auto& [key, value] : {std::pair<const char*, int32_t>{"PartSize", s3.part_size_mib},
                                   {"MultipartThreshold", s3.multipart_threshold_mib}})
    if (value < kSmallestPartMib || value > kLargestPartMib)
      BadSetting(std::string(key) + " is " + std::to_string(value) + "; it must be from " +
                 std::to_string(kSmallestPartMib) + " to " + std::to_string(kLargestPartMib) +
                 " (MiB)");
  int64_t part = s3.part_size_mib * kMiB;
  if (size > part * kMaxParts) part = (size / kMaxParts / kMiB + 1) * kMiB;
  return part;
}

void PutObjectsWithLimits(const Job& job, const S3Settings& s3, const S3Credentials& credentials,
                          const TransferLimits& limits, S3Progress& progress,
                          std::vector<StoredObject>& stored) {
  auto stopped = [&limits] { return limits.stop && limits.stop->raised(); };
  const S3Location at = S3LocationFor(s3);
  const std::string target = TargetText(at);
  const int64_t threshold =
      std::clamp(s3.multipart_threshold_mib, kSmallestPartMib, kLargestPartMib) * kMiB;
  // One client for every request: libcurl keeps the connection.
  S3Client client(credentials, s3.region, limits);
  auto send = [&](const S3Request& request, FileSource* file) {
    S3Response response = client.Send(request);
    if (file && !file->read_error().empty()) throw Error(kEFOpenError, file->read_error());
    if (!response.ok()) throw S3Failure(response, client.easy(), target, credentials, s3.region);
    return response;
  };

  for (size_t i = progress.files_done; i < job.written_files.size(); ++i) {
    const std::string& path = job.written_files[i];
    const std::string key = S3ObjectKey(job.s3_prefix, BaseName(path));
    const std::string url = at.ObjectUrl(key);
    FileSource whole(job, path);
    const int64_t size = whole.size();
    const int64_t part_size = S3PartSize(s3, size);
    S3Request request;
    request.content_type = WrittenFileContentType(job, path);
    std::string etag;
    if (size <= threshold) {
      request.url = url;
      request.payload_sha256 = WrittenSha256(job, path, whole);
      if (request.payload_sha256.empty()) request.payload_sha256 = SourceSha256(whole);
      request.source = &whole;
      etag = send(request, &whole).etag;
    } else {
      if (progress.upload_id.empty()) {
        if (stopped()) Stopped(target, key);
        request.method = "POST";
        request.url = url + "?uploads=";
        request.payload_sha256 = Sha256Hex("");
        const S3Response begun = send(request, nullptr);
        progress.upload_id = XmlElementText(begun.body, "UploadId");
        progress.upload_key = key;
        progress.part_etags.clear();
        if (progress.upload_id.empty())
          throw DeliveryError(Error(kES3Error, target + "the server began a multipart upload of " +
                                                   key + " but named no UploadId"),
                              false);
      }
      const int64_t parts = (size + part_size - 1) / part_size;
      for (int64_t n = int64_t(progress.part_etags.size()); n < parts; ++n) {
        if (stopped()) Stopped(target, key);
        FileSource part(job, path, n * part_size, part_size);
        S3Request put;
        put.url = url + "?partNumber=" + std::to_string(n + 1) + "&" + Query(progress.upload_id);
        put.payload_sha256 = SourceSha256(part);
        put.source = &part;
        const S3Response stored_part = send(put, &part);
        if (stored_part.etag.empty())
          throw DeliveryError(Error(kES3Error, target + "the server named no ETag for part " +
                                                   std::to_string(n + 1) + " of " + key),
                              false);
        progress.part_etags.push_back(stored_part.etag);
      }
      if (stopped()) Stopped(target, key);
      S3Request complete;
      complete.method = "POST";
      complete.url = url + "?" + Query(progress.upload_id);
      complete.text = CompletionXml(progress.part_etags);
      complete.payload_sha256 = Sha256Hex(complete.text);
      complete.content_type = "application/xml";
      S3Response done = send(complete, nullptr);
      // The answer may be a success status with an error in its body.
      if (!XmlElementText(done.body, "Code").empty()) {
        done.status = 500;
        throw S3Failure(done, client.easy(), target, credentials, s3.region);
      }
      etag = XmlElementText(done.body, "ETag");
      progress.upload_id.clear();
      progress.part_etags.clear();
    }
    stored.push_back({at.bucket, key, Unquoted(etag)});
    progress.files_done = i + 1;
  }
}

void PutObjectsWithRetries(const Job& job, const S3Settings& s3, const TransferLimits& limits,
                           const RetryPolicy& policy, std::vector<StoredObject>& stored) {
  const S3Location at = S3LocationFor(s3);
  const S3Credentials credentials = S3CredentialsFor(s3);
  S3Progress progress;
  try {
    RetryTransfer("S3", limits, policy, [&](const TransferLimits& attempt) {
      PutObjectsWithLimits(job, s3, credentials, attempt, progress, stored);
    });
  } catch (const Error& e) {
    if (progress.upload_id.empty()) throw;
    const std::string note =
        AbortUpload(at, credentials, s3, limits, progress, policy.stop && policy.stop->raised());
    if (note.empty()) throw;
    throw DeliveryError(Error(e.class_name(), e.message() + note), false, note);
  }
}

}  // namespace delivery

void UploadFilesToS3(const Job& job, const S3Settings& s3, const DeliveryPolicy& policy,
                     std::vector<StoredObject>& stored) {
  delivery::TransferLimits limits = delivery::DefaultTransferLimits();
  limits.total_ms = delivery::TotalMs(policy.timeout_seconds);
  delivery::PutObjectsWithRetries(job, s3, limits, policy.retry, stored);
}

}  // namespace ostrevane
