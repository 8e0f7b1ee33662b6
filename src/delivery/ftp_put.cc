#include "delivery/ftp_put.h"

#include <charconv>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/connection_string.h"
#include "delivery/delivery.h"
#include "delivery/http_post.h"

namespace ostrevane {
namespace delivery {
namespace {

[[noreturn]] void BadServer(const std::string& server) {
  throw Exception("Invalid FTP server \"" + MaskSecrets(server, SecretText::kServer) + "\"");
}

}  // namespace

FtpSecurity FtpSecurityFor(int tls_setting) {
  if (tls_setting < 0 || tls_setting > 2)
    throw Exception("TLS in section FTP of settings.ini is " + std::to_string(tls_setting) +
                    "; it must be 0 (no TLS), 1 (AUTH TLS) or 2 (implicit TLS)");
  return FtpSecurity(tls_setting);
}

std::string FtpServerUrl(const std::string& server, FtpSecurity security) {
  std::string rest = Trim(server);
  if (IStartsWith(rest, "ftp://")) rest.erase(0, 6);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const bool implicit = security == FtpSecurity::kImplicit;
  std::string host = rest, port = implicit ? "990" : "21";
  if (!rest.empty() && rest.front() == '[') {  // [IPv6] or [IPv6]:port
    size_t close = rest.find(']');
    if (close == std::string::npos) BadServer(server);
    host = rest.substr(0, close + 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') BadServer(server);
      port = rest.substr(close + 2);
    }
  } else if (size_t colon = rest.find(':'); colon != std::string::npos) {
    if (rest.find(':', colon + 1) != std::string::npos) {
      host = "[" + rest + "]";  // a bare IPv6 address
    } else {
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
    }
  }
  int number = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (host.empty() || host.find_first_of("/@ ") != std::string::npos || ec != std::errc() ||
      end != port.data() + port.size() || number < 1 || number > 65535)
    BadServer(server);
  return (implicit ? "ftps://" : "ftp://") + host + ":" + std::to_string(number) + "/";
}

std::string FtpFileUrl(const std::string& server_url, const std::string& folder,
                       const std::string& file_name) {
  // The folder is encoded whole, "/" included: libcurl then changes to it
  // with one CWD of the text as given (single-CWD method).
  if (folder.empty()) return server_url + UrlEncode(file_name);
  return server_url + UrlEncode(folder) + "/" + UrlEncode(file_name);
}

void PutFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                        FtpSecurity security, size_t* files_done) {
  if (Trim(job.ftp_server).empty()) throw Error(kEFTPError, "no FTP server is set in settings.ini");
  const std::string server_url = FtpServerUrl(job.ftp_server, security);
  // "FTP server host:port: " before every failure of the transfer.
  const size_t host_at = server_url.find("://") + 3;
  const std::string target =
      "FTP server " + server_url.substr(host_at, server_url.size() - host_at - 1) + ": ";
  // One handle for every file: libcurl keeps the control connection, so
  // the job logs in once and changes folder once.
  CurlEasy easy;
  easy.ApplyLimits(limits);
  easy.Set(CURLOPT_PROTOCOLS_STR, security == FtpSecurity::kImplicit ? "ftps" : "ftp");
  // Explicit TLS: AUTH TLS must succeed before USER, and the data
  // connections are protected too (PROT P); the server's certificate is
  // verified against the system's store or OSTREVANE_CA_FILE.
  if (security == FtpSecurity::kExplicit) {
    easy.Set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    easy.Set(CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));  // not the older AUTH SSL first
  }
  easy.Set(CURLOPT_UPLOAD, 1L);
  easy.Set(CURLOPT_APPEND, 0L);
  // Binary type (TYPE I): the server stores the file byte for byte. In ASCII
  // type a server may rewrite line ends, which breaks CR LF text and UTF-16.
  easy.Set(CURLOPT_TRANSFERTEXT, 0L);
  easy.Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE));
  easy.Set(CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
  // Passive mode: CURLOPT_FTPPORT stays unset.
  if (!job.ftp_login.empty()) {
    easy.Set(CURLOPT_USERNAME, job.ftp_login);
    easy.Set(CURLOPT_PASSWORD, job.ftp_password);
  }  // else libcurl logs in as anonymous
  if (!proxy.server.empty() && proxy.auth) {
    easy.Set(CURLOPT_PROXY, proxy.server);
    easy.Set(CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
    easy.Set(CURLOPT_PROXYPORT, long(static_cast<uint16_t>(proxy.port)));
    easy.Set(CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (!proxy.login.empty()) {
      easy.Set(CURLOPT_PROXYUSERNAME, proxy.login);
      easy.Set(CURLOPT_PROXYPASSWORD, proxy.password);
      easy.Set(CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC));
    }
  }
  size_t first = files_done ? *files_done : 0;
  for (size_t i = first; i < job.written_files.size(); ++i) {
    const std::string& path = job.written_files[i];
    FileSource file(path);
    file.AttachAsUpload(easy);
    easy.Set(CURLOPT_INFILESIZE_LARGE, file.size());
    easy.Set(CURLOPT_URL, FtpFileUrl(server_url, job.ftp_folder, BaseName(path)));
    const CURLcode rc = easy.Perform();
    if (rc == CURLE_OK) {
      if (files_done) *files_done = i + 1;
      continue;
    }
    if (!file.read_error().empty()) throw Error(kEFOpenError, file.read_error());
    // A dropped control connection reads "response reading failed (errno:
    // N)" in libcurl's words, with an errno left from elsewhere: say what
    // happened instead.
    std::string message = rc == CURLE_RECV_ERROR
                              ? "the connection was lost while reading the server's answer"
                              : easy.ErrorText(rc);
    const std::string reply = easy.trace().ErrorReply();
    if (!reply.empty() && message.find(reply) == std::string::npos)
      message += "; server reply: " + reply;
    // The server's answer decides when it gave one (421 and 450 ask to
    // try later, 530 and 550 will not change); else how the transfer broke.
    const bool transient = !easy.deadline_expired() &&
                           (reply.empty() ? TransientTransferFailure(rc, easy) : TransientReply(reply));
    throw DeliveryError(Error(kEFTPError, target + message), transient);
  }
}

void PutFilesWithRetries(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                         FtpSecurity security, const RetryPolicy& policy) {
  size_t files_done = 0;
  RetryTransfer("FTP", limits, policy, [&](const TransferLimits& attempt) {
    PutFilesWithLimits(job, proxy, attempt, security, &files_done);
  });
}

}  // namespace delivery

void UploadFilesByFtp(const Job& job, const ServerSettings& proxy, int tls_setting,
                      const DeliveryPolicy& policy) {
  delivery::TransferLimits limits = delivery::DefaultTransferLimits();
  limits.total_ms = delivery::TotalMs(policy.timeout_seconds);
  delivery::PutFilesWithRetries(job, proxy, limits, delivery::FtpSecurityFor(tls_setting),
                                policy.retry);
}

}  // namespace ostrevane
