#include "delivery/ftp_put.h"

#include <charconv>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/connection_string.h"
#include "delivery/delivery.h"
#include "delivery/http_post.h"
#include "delivery/remote_staging.h"

namespace ostrevane {
namespace delivery {
namespace {

[[noreturn]] void BadServer(const std::string& server) {
  throw Exception("Invalid FTP server \"" + MaskSecrets(server, SecretText::kServer) + "\"");
}

// The target folder of an FTP delivery. Commands run in the folder that
// libcurl changed to for the transfer, so they name bare file names.
class FtpFolder : public RemoteFolder {
 public:
  FtpFolder(std::string server_url, std::string folder)
      : server_url_(std::move(server_url)), folder_(std::move(folder)) {}
  std::string FileUrl(const std::string& name) const override {
    return FtpFileUrl(server_url_, folder_, name);
  }
  std::string FolderUrl() const override {
    return folder_.empty() ? server_url_ : server_url_ + UrlEncode(folder_) + "/";
  }
  std::vector<std::string> RenameCommands(const std::string& from,
                                          const std::string& to) const override {
    return {"RNFR " + from, "RNTO " + to};
  }
  std::string RemoveCommand(const std::string& name) const override { return "DELE " + name; }
  // A STOR that the server refused at once ("450 busy") created nothing.
  bool MayHaveCreated(CURLcode, const CurlEasy& easy) const override {
    const ProtocolTrace& trace = easy.trace();
    return trace.Sent("STOR") && (trace.data_sent() || trace.ErrorReply().empty());
  }
  bool WasAbsent(const CurlEasy& easy) const override {
    return easy.trace().ErrorReply().find("No such file") != std::string::npos;
  }

 private:
  std::string server_url_;
  std::string folder_;
};

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
                        FtpSecurity security, RemoteProgress* progress) {
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
  if (security != FtpSecurity::kPlain) {
    // Explicit TLS: AUTH TLS must succeed before USER, and the data
    // connections are protected too (PROT P); the server's certificate is
    // verified against the system's store or OSTREVANE_CA_FILE.
    if (security == FtpSecurity::kExplicit) {
      easy.Set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
      easy.Set(CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));  // not the older AUTH SSL first
    }
    // TLS 1.2, neither older nor newer. Servers that protect data
    // connections insist that each one resumes the TLS session of the
    // control connection (vsftpd's default); libcurl does so on the one
    // connection this handle keeps, but over TLS 1.3 the session tickets
    // come after the handshake and such servers refuse most data
    // connections after the first ("522 SSL connection failed: session
    // reuse required"). Over TLS 1.2 every resumption is accepted.
    easy.Set(CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2) | long(CURL_SSLVERSION_MAX_TLSv1_2));
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
  RemoteProgress local;
  RemoteProgress& done = progress ? *progress : local;
  const FtpFolder folder(server_url, job.ftp_folder);
  StagedUpload upload(easy, folder, limits, done.leftovers);
  upload.RemoveLeftovers();
  for (size_t i = done.files_done; i < job.written_files.size(); ++i) {
    const std::string& path = job.written_files[i];
    const std::string name = RemoteFileName(path, kEFTPError, target);
    FileSource file(job, path);
    const CURLcode rc = upload.Store(file, name);
    if (rc == CURLE_OK) {
      done.files_done = i + 1;
      continue;
    }
    if (!file.read_error().empty())
      throw Error(kEFOpenError, file.read_error() + upload.CleanUp(rc, easy.deadline_expired()));
    // A dropped control connection reads "response reading failed (errno:
    // N)" in libcurl's words, with an errno left from elsewhere: say what
    // happened instead.
    std::string message = rc == CURLE_RECV_ERROR
                              ? "the connection was lost while reading the server's answer"
                              : easy.ErrorText(rc);
    const std::string reply = easy.trace().ErrorReply();
    if (!reply.empty() && message.find(reply) == std::string::npos)
      message += "; server reply: " + reply;
    if (upload.rename_failed())
      message = "the file was stored as " + upload.temporary_name() +
                " but could not be renamed to " + name + ": " + message;
    // The server's answer decides when it gave one (421 and 450 ask to
    // try later, 530 and 550 will not change); else how the transfer broke.
    const bool transient =
        !easy.deadline_expired() && !easy.stopped() &&
        (reply.empty() ? TransientTransferFailure(rc, easy) : TransientReply(reply));
    const std::string left_behind = upload.CleanUp(rc, easy.deadline_expired());
    throw DeliveryError(Error(kEFTPError, target + message + left_behind), transient, left_behind);
  }
}

void PutFilesWithRetries(const Job& job, const ServerSettings& proxy, const TransferLimits& limits,
                         FtpSecurity security, const RetryPolicy& policy) {
  RemoteProgress progress;
  RetryTransfer("FTP", limits, policy, [&](const TransferLimits& attempt) {
    PutFilesWithLimits(job, proxy, attempt, security, &progress);
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
