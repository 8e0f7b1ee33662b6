// The libpq connection that the PostgreSQL backend shares with its
// cursors, and the waiting for a statement's results: under the command
// time-out (canceling the statement when it expires), draining what is
// left, and turning a failed result into one clean error line.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <string>

#include "data/db/pg_cancel.h"

namespace ostrevane {

struct PgResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

// A cursor whose statement still sends rows over the session's connection.
// The connection runs one statement at a time, so before the next one the
// backend either reads the rest into memory (Detach) or, when the
// transaction is being rolled back, throws it away (Abandon). Both leave
// the connection idle.
class PgStream {
 public:
  virtual void Detach() = 0;
  virtual void Abandon() = 0;

 protected:
  ~PgStream() = default;
};

// The connection shared by the backend and its cursors: a cursor may
// outlive Close(), after which it only reports that the connection is gone.
// Used from the job's thread only.
struct PgSession {
  PGconn* conn = nullptr;
  // Made once connected, gone with the connection; the one part that other
  // threads use (Backend::Cancel, Backend::Sever).
  std::unique_ptr<PgCanceller> canceller;
  bool sql_ascii = false;
  PgStream* active = nullptr;             // the cursor still receiving rows
  mutable bool copy_out_refused = false;  // a COPY TO STDOUT's data was thrown away

  [[noreturn]] void Fail(std::string message) const;
  [[noreturn]] void FailConnection() const;
  [[noreturn]] void FailResult(const PGresult* r) const;
  PGconn* Conn() const;
};

// A deadline for the wait of a statement; none when the time-out is 0.
class PgDeadline {
 public:
  explicit PgDeadline(int seconds) : seconds_(seconds) {
    if (seconds > 0) end_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }
  bool none() const { return seconds_ <= 0; }
  int seconds() const { return seconds_; }
  int RemainingMs() const;
  bool expired = false;  // the cancel request went out

 private:
  int seconds_;
  std::chrono::steady_clock::time_point end_{};
};

// Asks the server to cancel the connection's running statement; returns at
// once (see PgCanceller).
void SendCancel(const PgSession& s);
// As SendCancel, then waits a moment for the server to take the request, so
// that it cannot meet the statement sent next (a rollback); a server that
// does not answer is not waited for longer.
void SendCancelAndSettle(const PgSession& s);

// Waits until the connection has input, then consumes it. With a deadline
// that has run out, cancels the statement first and from then on waits
// without limit for its outcome. Returns false when the connection broke
// (libpq's next call reports it).
bool AwaitInput(const PgSession& s, PgDeadline* deadline);

// Waits until the next result can be taken without blocking, under the
// deadline as AwaitInput does (or the connection broke).
void AwaitResult(const PgSession& s, PgDeadline* deadline);

// The next result of the running statement; waits at most until the
// deadline, then cancels the statement and waits for its outcome. A COPY
// the user's SQL starts is refused and its data discarded.
PgResult NextResult(const PgSession& s, PgDeadline* deadline);

// Raises the error for a refused COPY TO STDOUT, once.
void FailIfCopyOut(const PgSession& s);

bool IsError(const PGresult* r);

// Raises the error of a failed result; a time-out gets its own message.
[[noreturn]] void FailWith(const PgSession& s, const PGresult* r, const PgDeadline* deadline);

// Raises the error of a statement canceled because `deadline` expired.
[[noreturn]] void FailTimeOut(const PgDeadline& deadline);

// Reads every remaining result of the statement; raises the first error
// after all were read (the connection is then idle). Returns the first
// result without an error, for a caller that needs it.
PgResult Drain(const PgSession& s, PgDeadline* deadline);

}  // namespace ostrevane
