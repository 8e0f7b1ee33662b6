#include "delivery/sftp_put.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/connection_string.h"
#include "delivery/delivery.h"
#include "delivery/http_post.h"
#include "delivery/mime_text.h"
#include "delivery/remote_staging.h"

namespace ostrevane {
namespace delivery {
namespace {

[[noreturn]] void BadServer(const std::string& server) {
  throw Exception("Invalid SFTP server \"" + MaskSecrets(server, SecretText::kServer) + "\"");
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "";
}

std::string Base64Decode(const std::string& text) {
  std::string out(text.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  if (n < 0) return "";
  out.resize(size_t(n));
  // EVP_DecodeBlock counts the padding as zero bytes.
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) out.pop_back();
  return out;
}

// Whether the host patterns of a known_hosts line ("name,[name]:port" or a
// hashed "|1|salt|hash") name `name`. Wildcards and negations are not
// matched, as libcurl's own check does not match them either.
bool NamesHost(const std::string& patterns, const std::string& name) {
  std::istringstream list(patterns);
  for (std::string pattern; std::getline(list, pattern, ',');) {
    if (pattern == name) return true;
    if (pattern.rfind("|1|", 0) != 0) continue;
    const size_t bar = pattern.find('|', 3);
    if (bar == std::string::npos) continue;
    const std::string salt = Base64Decode(pattern.substr(3, bar - 3));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (HMAC(EVP_sha1(), salt.data(), int(salt.size()),
             reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest, &length) &&
        Base64(std::string_view(reinterpret_cast<const char*>(digest), length)) ==
            pattern.substr(bar + 1))
      return true;
  }
  return false;
}

// What the host key check saw, filled in by libcurl's key callback.
struct HostKeyCheck {
  curl_khmatch match = CURLKHMATCH_OK;
  std::string blob;  // the server's public key
  bool called = false;
  // known_hosts records the server, but no key of the type it offers.
  bool other_type_recorded = false;
};

int KeyCallback(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match,
                void* data) {
  auto* check = static_cast<HostKeyCheck*>(data);
  check->called = true;
  check->match = match;
  if (found && found->key)
    check->blob = found->len ? std::string(found->key, found->len) : Base64Decode(found->key);
  // Only a key that is in the file, unchanged, is accepted; never is a key
  // added to the file by the program.
  return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
}

// The failure text for a host key that was not accepted.
std::string HostKeyMessage(const HostKeyCheck& check, const SftpEndpoint& at,
                           const std::string& known_hosts) {
  const std::string type = SshKeyType(check.blob);
  const std::string line = at.KnownHostsName() + " " + type + " " + Base64(check.blob);
  const std::string key = type + " key " + SshFingerprint(check.blob);
  if (check.match == CURLKHMATCH_MISMATCH)
    return "the server's host key (" + key + ") does NOT match the key recorded for " +
           at.KnownHostsName() + " in " + known_hosts +
           "; someone may be posing as the server. If its key was changed on purpose, remove "
           "the old entry (ssh-keygen -R \"" + at.KnownHostsName() + "\" -f " + known_hosts +
           ") and add this line: " + line;
  const std::string accept =
      "if that is the server's key (on the server: ssh-keygen -l -f <its host key file>), "
      "accept it by adding this line to " + known_hosts + ": " + line;
  if (check.other_type_recorded)
    return known_hosts + " records keys for " + at.KnownHostsName() +
           ", but none of a type the server offers: it offers its " + key + "; " + accept;
  return "the server's host key (" + key + ") is not in " + known_hosts + "; " + accept;
}

// The SSH session could not be set up: libcurl reports a failed key
// exchange ("Failure establishing ssh session") as a failed start.
bool HandshakeFailed(CURLcode rc) { return rc == CURLE_FAILED_INIT; }

// libcurl offers a server only the key types that known_hosts records for
// it, so a server without a key of those types ends the handshake before
// any key is seen ("Unable to exchange encryption keys"). A second
// handshake that knows no key at all then fetches the key the server does
// offer, so that the failure can name it; that key is rejected before any
// login. Returns whether the server offers a key of a type known_hosts does
// not list for it (then `check` describes the key).
bool KeyOfAnotherType(const SftpEndpoint& at, const std::string& known_hosts,
                      const TransferLimits& limits, HostKeyCheck& check) {
  CurlEasy easy;
  easy.ApplyLimits(limits);
  easy.Set(CURLOPT_PROTOCOLS_STR, "sftp");
  easy.Set(CURLOPT_URL, at.Url() + "/");
  easy.Set(CURLOPT_SSH_KNOWNHOSTS, "/dev/null");
  easy.Set(CURLOPT_SSH_KEYFUNCTION, &KeyCallback);
  easy.Set(CURLOPT_SSH_KEYDATA, static_cast<void*>(&check));
  check = HostKeyCheck();
  easy.Perform();
  // With a key of that type listed, the first handshake failed for another
  // reason (a dropped connection): that failure stands.
  if (!check.called || check.blob.empty() ||
      ListsKeyTypeFor(known_hosts, at.KnownHostsName(), SshKeyType(check.blob)))
    return false;
  check.other_type_recorded = true;
  return true;
}

// A path for a quote command: in double quotes, so that blanks are part
// of it, with the quote and backslash escaped. A relative path is taken
// from the login folder by the server.
std::string QuotedPath(const std::string& folder, const std::string& name) {
  std::string path = !folder.empty() && folder.front() == '/' ? "/" : "";
  size_t at = 0;
  while (at < folder.size()) {
    const size_t end = std::min(folder.find('/', at), folder.size());
    if (end > at) path += folder.substr(at, end - at) + "/";
    at = end + 1;
  }
  path += name;
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// The target folder of an SFTP delivery. SFTP has no current folder, so
// the commands name whole paths.
class SftpFolder : public RemoteFolder {
 public:
  SftpFolder(SftpEndpoint endpoint, std::string folder)
      : endpoint_(std::move(endpoint)), folder_(std::move(folder)) {}
  std::string FileUrl(const std::string& name) const override {
    return endpoint_.Url() + SftpFilePath(folder_, name);
  }
  std::string FolderUrl() const override { return FileUrl(""); }
  std::vector<std::string> RenameCommands(const std::string& from,
                                          const std::string& to) const override {
    return {"rename " + QuotedPath(folder_, from) + " " + QuotedPath(folder_, to)};
  }
  std::string RemoveCommand(const std::string& name) const override {
    return "rm " + QuotedPath(folder_, name);
  }
  bool MayHaveCreated(CURLcode rc, const CurlEasy&) const override {
    switch (rc) {
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_CONNECT:
      case CURLE_FAILED_INIT:  // no SSH session
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_LOGIN_DENIED:
      case CURLE_REMOTE_FILE_NOT_FOUND:  // the file could not be opened
      case CURLE_REMOTE_ACCESS_DENIED:
        return false;
      default:
        return true;
    }
  }
  bool WasAbsent(const CurlEasy& easy) const override {
    return easy.ErrorText(CURLE_QUOTE_ERROR).find("No such file") != std::string::npos;
  }

 private:
  SftpEndpoint endpoint_;
  std::string folder_;
};

}  // namespace

std::string SftpEndpoint::Url() const { return "sftp://" + UrlHost(host) + ":" + std::to_string(port); }

std::string SftpEndpoint::KnownHostsName() const {
  if (port == 22) return host;
  return "[" + host + "]:" + std::to_string(port);
}

SftpEndpoint SftpEndpointFor(const std::string& server, int default_port) {
  std::string rest = Trim(server);
  if (IStartsWith(rest, "sftp://")) rest.erase(0, 7);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host = rest, port;
  if (!rest.empty() && rest.front() == '[') {  // [IPv6] or [IPv6]:port
    const size_t close = rest.find(']');
    if (close == std::string::npos) BadServer(server);
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') BadServer(server);
      port = rest.substr(close + 2);
      if (port.empty()) BadServer(server);
    }
  } else if (size_t colon = rest.find(':'); colon != std::string::npos) {
    if (rest.find(':', colon + 1) == std::string::npos) {  // else a bare IPv6 address
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
      if (port.empty()) BadServer(server);
    }
  }
  int number = default_port;
  if (!port.empty()) {
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size()) BadServer(server);
  }
  if (host.empty() || host.find_first_of("/@ []") != std::string::npos || number < 1 ||
      number > 65535)
    BadServer(server);
  return {host, number};
}

std::string SftpFilePath(const std::string& folder, const std::string& file_name) {
  std::string path = folder.empty() || folder.front() != '/' ? "/~" : "";
  size_t at = 0;
  while (at < folder.size()) {
    const size_t end = std::min(folder.find('/', at), folder.size());
    if (end > at) path += Concat({"/", UrlEncode(std::string_view(folder).substr(at, end - at))});
    at = end + 1;
  }
  return path + "/" + UrlEncode(file_name);
}

std::string SshFingerprint(std::string_view key_blob) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(key_blob.data()), key_blob.size(), digest);
  std::string text = Base64(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
  while (!text.empty() && text.back() == '=') text.pop_back();
  return "SHA256:" + text;
}

std::string SshKeyType(std::string_view key_blob) {
  if (key_blob.size() < 4) return "";
  const auto* b = reinterpret_cast<const unsigned char*>(key_blob.data());
  const size_t length = (size_t(b[0]) << 24) | (size_t(b[1]) << 16) | (size_t(b[2]) << 8) | b[3];
  if (length > key_blob.size() - 4 || length > 64) return "";
  return std::string(key_blob.substr(4, length));
}

bool ListsKeyTypeFor(const std::string& known_hosts, const std::string& name,
                     const std::string& type) {
  std::ifstream in(known_hosts);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string hosts, key_type;
    words >> hosts;
    if (hosts.empty() || hosts[0] == '#') continue;
    if (hosts[0] == '@') words >> hosts;  // @cert-authority, @revoked
    words >> key_type;
    if (key_type == type && NamesHost(hosts, name)) return true;
  }
  return false;
}

std::string KnownHostsPath(const std::string& setting) {
  const std::string value = Trim(setting);
  if (value.empty()) return HomeFolder() + "/.ssh/known_hosts";
  if (value.rfind("~/", 0) == 0) return HomeFolder() + value.substr(1);
  return value;
}

void CheckPrivateKeyFile(const std::string& path) {
  struct stat st {};
  const std::string where = "KeyFile \"" + path + "\" in section SFTP of settings.ini";
  if (::stat(path.c_str(), &st) != 0)
    throw Exception(where + " cannot be read: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw Exception(where + " is not a file");
  if (st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    throw Exception(where + " must belong to the user running the program and be readable by "
                    "that user only (it has mode " + mode + "; chmod 600 it)");
  }
}

void PutFilesBySftpWithLimits(const Job& job, const SftpSettings& sftp,
                              const TransferLimits& limits, RemoteProgress* progress) {
  if (Trim(job.sftp_server).empty())
    throw Error(kESFTPError, "no SFTP server is set in settings.ini");
  const SftpEndpoint endpoint = SftpEndpointFor(job.sftp_server, sftp.port > 0 ? sftp.port : 22);
  const std::string target = "SFTP server " + UrlHost(endpoint.host) + ":" +
                             std::to_string(endpoint.port) + ": ";
  // SSH has no anonymous login; without a name libcurl would guess one.
  if (Trim(job.sftp_login).empty())
    throw DeliveryError(Error(kESFTPError, target + "no Login is set in section SFTP of settings.ini"),
                        false);
  const std::string known_hosts = KnownHostsPath(sftp.known_hosts);
  if (!Trim(sftp.key_file).empty()) CheckPrivateKeyFile(sftp.key_file);

  HostKeyCheck check;
  // One handle for every file: libcurl keeps the SSH session, so the job
  // logs in once.
  CurlEasy easy;
  easy.ApplyLimits(limits);
  easy.Set(CURLOPT_PROTOCOLS_STR, "sftp");
  easy.Set(CURLOPT_UPLOAD, 1L);
  easy.Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE));
  easy.Set(CURLOPT_SSH_KNOWNHOSTS, known_hosts);
  easy.Set(CURLOPT_SSH_KEYFUNCTION, &KeyCallback);
  easy.Set(CURLOPT_SSH_KEYDATA, static_cast<void*>(&check));
  long auth = 0;
  if (!Trim(sftp.key_file).empty()) {
    auth |= CURLSSH_AUTH_PUBLICKEY;
    easy.Set(CURLOPT_SSH_PRIVATE_KEYFILE, sftp.key_file);
    easy.Set(CURLOPT_SSH_PUBLIC_KEYFILE, "");  // derived from the private key
  }
  if (!job.sftp_password.empty() || auth == 0) auth |= CURLSSH_AUTH_PASSWORD;
  easy.Set(CURLOPT_SSH_AUTH_TYPES, auth);
  easy.Set(CURLOPT_USERNAME, job.sftp_login);
  if (!job.sftp_password.empty()) easy.Set(CURLOPT_PASSWORD, job.sftp_password);

  RemoteProgress local;
  RemoteProgress& done = progress ? *progress : local;
  const SftpFolder folder(endpoint, job.sftp_folder);
  StagedUpload upload(easy, folder, limits, done.leftovers);
  upload.RemoveLeftovers();
  for (size_t i = done.files_done; i < job.written_files.size(); ++i) {
    const std::string& path = job.written_files[i];
    const std::string name = RemoteFileName(path, kESFTPError, target);
    FileSource file(job, path);
    check = HostKeyCheck();
    const CURLcode rc = upload.Store(file, name);
    if (rc == CURLE_OK) {
      done.files_done = i + 1;
      continue;
    }
    if (!file.read_error().empty())
      throw Error(kEFOpenError, file.read_error() + upload.CleanUp(rc, easy.deadline_expired()));
    if ((check.called && check.match != CURLKHMATCH_OK) ||
        (!check.called && HandshakeFailed(rc) &&
         KeyOfAnotherType(endpoint, known_hosts, limits, check)))
      throw DeliveryError(Error(kESFTPError, target + HostKeyMessage(check, endpoint, known_hosts)),
                          false);
    std::string message = easy.ErrorText(rc);
    if (rc == CURLE_LOGIN_DENIED)
      message = "the server refused the login of \"" + job.sftp_login + "\" (" + message + ")";
    if (upload.rename_failed())
      message = "the file was stored as " + upload.temporary_name() +
                " but could not be renamed to " + name + ": " + message;
    const bool transient = !easy.stopped() && TransientTransferFailure(rc, easy);
    const std::string left_behind = upload.CleanUp(rc, easy.deadline_expired());
    throw DeliveryError(Error(kESFTPError, target + message + left_behind), transient, left_behind);
  }
}

void PutFilesBySftpWithRetries(const Job& job, const SftpSettings& sftp,
                               const TransferLimits& limits, const RetryPolicy& policy) {
  RemoteProgress progress;
  RetryTransfer("SFTP", limits, policy, [&](const TransferLimits& attempt) {
    PutFilesBySftpWithLimits(job, sftp, attempt, &progress);
  });
}

}  // namespace delivery

void UploadFilesBySftp(const Job& job, const SftpSettings& sftp, const DeliveryPolicy& policy) {
  delivery::TransferLimits limits = delivery::DefaultTransferLimits();
  limits.total_ms = delivery::TotalMs(policy.timeout_seconds);
  delivery::PutFilesBySftpWithRetries(job, sftp, limits, policy.retry);
}

}  // namespace ostrevane
