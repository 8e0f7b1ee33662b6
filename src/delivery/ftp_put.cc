#include "delivery/ftp_put.h"

#include <charconv>

#include "common/error.h"
#include "common/text.h"
#include "delivery/delivery.h"
#include "delivery/http_post.h"

namespace ostrevane {
namespace delivery {
namespace {

std::string BaseName(const std::string& path) {
  size_t at = path.find_last_of("/\\");
  return at == std::string::npos ? path : path.substr(at + 1);
}

[[noreturn]] void BadServer(const std::string& server) {
  throw Exception("Invalid FTP server \"" + server + "\"");
}

}  // namespace

std::string FtpServerUrl(const std::string& server) {
  std::string rest = Trim(server);
  if (IStartsWith(rest, "ftp://")) rest.erase(0, 6);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host = rest, port = "21";
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
  return "ftp://" + host + ":" + std::to_string(number) + "/";
}

std::string FtpFileUrl(const std::string& server_url, const std::string& folder,
                       const std::string& file_name) {
  // The folder is encoded whole, "/" included: libcurl then changes to it
  // with one CWD of the text as given (single-CWD method).
  if (folder.empty()) return server_url + UrlEncode(file_name);
  return server_url + UrlEncode(folder) + "/" + UrlEncode(file_name);
}

void PutFilesWithLimits(const Job& job, const ServerSettings& proxy, const TransferLimits& limits) {
  if (Trim(job.ftp_server).empty()) throw Error(kEFTPError, "no FTP server is set in settings.ini");
  const std::string server_url = FtpServerUrl(job.ftp_server);
  // "FTP server host:port: " before every failure of the transfer.
  const std::string target = "FTP server " + server_url.substr(6, server_url.size() - 7) + ": ";
  // One handle for every file: libcurl keeps the control connection, so
  // the job logs in once and changes folder once.
  CurlEasy easy;
  easy.ApplyLimits(limits);
  easy.Set(CURLOPT_PROTOCOLS_STR, "ftp");
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
  for (const std::string& path : job.written_files) {
    FileSource file(path);
    file.AttachAsUpload(easy);
    easy.Set(CURLOPT_INFILESIZE_LARGE, file.size());
    easy.Set(CURLOPT_URL, FtpFileUrl(server_url, job.ftp_folder, BaseName(path)));
    const CURLcode rc = easy.Perform();
    if (rc == CURLE_OK) continue;
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
    throw Error(kEFTPError, target + message);
  }
}

}  // namespace delivery

void UploadFilesByFtp(const Job& job, const ServerSettings& proxy, int timeout_seconds) {
  delivery::TransferLimits limits = delivery::DefaultTransferLimits();
  limits.total_ms = delivery::TotalMs(timeout_seconds);
  delivery::PutFilesWithLimits(job, proxy, limits);
}

}  // namespace ostrevane
