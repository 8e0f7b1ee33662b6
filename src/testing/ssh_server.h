// A real OpenSSH server for the SFTP tests, on 127.0.0.1 and a free port,
// with its own host key, configuration and client key in a folder of the
// test. It logs in one account, kTestUser (made by scripts/setup, shell
// nologin, password locked), which only the SFTP subsystem is given. While
// a server lives the account has a random password, set with chpasswd and
// locked again when the server ends; servers of parallel tests take turns
// through a lock file, so each knows the password in force.
#pragma once

#include <sys/types.h>

#include <string>

namespace ostrevane::testing {

inline constexpr char kSftpTestUser[] = "ostrevane-sftp";

class SshServer {
 public:
  // Why no server can run here ("" when one can): no sshd, not root (only
  // root can log in another account and read passwords), or no test user.
  static std::string Unavailable();

  // Makes the keys and configuration in `folder` (a fresh folder of the
  // test, whose parent gets search rights for all) and starts sshd; throws std::runtime_error when it does not
  // come up within 10 s.
  explicit SshServer(const std::string& folder);
  // Stops sshd and locks the account's password again.
  ~SshServer();
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  int port() const { return port_; }
  const std::string& password() const { return password_; }
  // The known_hosts line that accepts this server's host key.
  const std::string& known_hosts_line() const { return known_hosts_line_; }
  // An unencrypted private key (mode 0600) that the server accepts.
  const std::string& client_key() const { return client_key_; }
  // A folder the test user may write (absolute path).
  const std::string& upload_folder() const { return upload_folder_; }
  // What sshd wrote to its standard error, for the messages of failed tests.
  std::string log() const;

 private:
  void Stop();

  int lock_fd_ = -1;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string password_;
  std::string known_hosts_line_;
  std::string client_key_;
  std::string upload_folder_;
  std::string log_;
};

}  // namespace ostrevane::testing
