// SFTP delivery: every file of a job stored on one SSH server over one
// connection, after the server's host key was found in a known_hosts file.
// There is no way around that check: an unknown or changed key fails the
// delivery with the key's fingerprint and the line that would accept it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "control/job.h"
#include "delivery/curl_easy.h"
#include "delivery/remote_staging.h"
#include "delivery/retry.h"
#include "settings/settings.h"

namespace ostrevane::delivery {

inline constexpr char kESFTPError[] = "ESFTPError";

// Host and port of an SFTP server: `server` is "host" or "host:port" (an
// IPv6 address in brackets), optionally with "sftp://"; without a port,
// `default_port` (the Port of section SFTP). Throws Exception for an empty
// host or a port outside 1..65535.
struct SftpEndpoint {
  std::string host;  // an IPv6 address without brackets
  int port = 22;
  std::string Url() const;            // "sftp://host:port"
  std::string KnownHostsName() const;  // "host", or "[host]:port" off port 22
};
SftpEndpoint SftpEndpointFor(const std::string& server, int default_port);

// The URL path that stores `file_name` in `folder`: a relative folder (or
// none) is taken from the login folder, one that begins with "/" from the
// root. Every name is percent-encoded; "/" separates folders.
std::string SftpFilePath(const std::string& folder, const std::string& file_name);

// The fingerprint of an SSH public key blob as ssh-keygen -l shows it:
// "SHA256:" and the unpadded base64 of the blob's SHA-256.
std::string SshFingerprint(std::string_view key_blob);
// The key type named at the start of the blob ("ssh-ed25519"); "" when the
// blob is too short to hold one.
std::string SshKeyType(std::string_view key_blob);

// Whether the known_hosts file lists a key of type `type` ("ssh-ed25519")
// for `name` (SftpEndpoint::KnownHostsName), under its plain name or hashed
// (ssh-keygen -H). A file that cannot be read lists nothing.
bool ListsKeyTypeFor(const std::string& known_hosts, const std::string& name,
                     const std::string& type);

// The known_hosts file for the KnownHosts setting: empty means
// ~/.ssh/known_hosts, and a leading "~/" is the user's home folder.
std::string KnownHostsPath(const std::string& setting);

// Throws Exception unless `path` is a regular file that only its owner, the
// user running the program, can read or write (mode 0600 or 0400).
void CheckPrivateKeyFile(const std::string& path);

// UploadFilesBySftp with other limits than the defaults, one try. Every
// file is stored under a temporary name and renamed once whole
// (delivery/remote_staging.h). Stores the files from progress->files_done
// on (all when null) and counts each one stored. Failures of the transfer
// are DeliveryErrors: transient for a refused, dropped or timed-out
// connection; permanent for a refused login, a missing folder and an
// unknown or changed host key.
void PutFilesBySftpWithLimits(const Job& job, const SftpSettings& sftp,
                              const TransferLimits& limits, RemoteProgress* progress = nullptr);

// PutFilesBySftpWithLimits tried again on transient failures.
void PutFilesBySftpWithRetries(const Job& job, const SftpSettings& sftp,
                               const TransferLimits& limits, const RetryPolicy& policy);

}  // namespace ostrevane::delivery
