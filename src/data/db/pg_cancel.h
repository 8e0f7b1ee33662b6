// Canceling the running statement of a PostgreSQL connection from any
// thread without waiting for the server. libpq's cancel request opens a
// connection of its own and waits for the server's answer, which a server
// that has stopped answering never gives; so the request goes out on a
// thread of its own, and nobody waits for it longer than they choose.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace ostrevane {

class PgCanceller {
 public:
  // On the connection's thread, once it is connected.
  explicit PgCanceller(PGconn* conn);
  // Joins a request that has been answered. One still waiting for a server
  // that does not answer is left to end with the process: it owns what it
  // uses, and the job must not wait for it.
  ~PgCanceller();
  PgCanceller(const PgCanceller&) = delete;
  PgCanceller& operator=(const PgCanceller&) = delete;

  // Any thread: sends the cancel request, unless one is still waiting for
  // its answer. Returns at once; true when this call sent it.
  bool Send();
  // Waits at most `wait` for the answer to the request under way; true
  // when there is none under way any more.
  bool WaitAnswered(std::chrono::milliseconds wait);
  // Any thread, while the connection is open: shuts its socket down, so
  // that a wait for a server that stopped answering ends at once.
  void Sever();

 private:
  struct Request;  // shared with the request's thread

  std::shared_ptr<Request> request_;
  const int socket_;
  std::mutex mu_;  // serialises Send
  std::thread thread_;
};

}  // namespace ostrevane
