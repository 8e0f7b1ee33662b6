#include "data/db/pg_session.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "common/error.h"
#include "data/db/pg_types.h"

namespace ostrevane {

void PgSession::Fail(std::string message) const {
  throw Error(kEDatabaseError, PgOneLine(message));
}

void PgSession::FailConnection() const {
  Fail(conn ? PQerrorMessage(conn) : "The connection is closed");
}

void PgSession::FailResult(const PGresult* r) const {
  const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  if (primary && *primary) Fail(primary);
  const char* msg = PQresultErrorMessage(r);
  if (msg && *msg) Fail(msg);
  FailConnection();
}

PGconn* PgSession::Conn() const {
  if (!conn) throw Error(kEDatabaseError, "The connection is closed");
  return conn;
}

int PgDeadline::RemainingMs() const {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                end_ - std::chrono::steady_clock::now())
                .count();
  return ms < 0 ? 0 : int(std::min<int64_t>(ms, 1 << 30));
}

void SendCancel(const PgSession& s) {
  if (s.canceller) s.canceller->Send();
}

void SendCancelAndSettle(const PgSession& s) {
  if (s.canceller && s.canceller->Send()) s.canceller->WaitAnswered(std::chrono::seconds(1));
}

bool AwaitInput(const PgSession& s, PgDeadline* deadline) {
  PGconn* conn = s.Conn();
  for (;;) {
    const bool limited = deadline && !deadline->none() && !deadline->expired;
    const int wait = limited ? deadline->RemainingMs() : -1;
    if (limited && wait == 0) {
      SendCancel(s);
      deadline->expired = true;
      continue;
    }
    pollfd p{PQsocket(conn), POLLIN, 0};
    if (p.fd < 0) s.FailConnection();
    const int rc = poll(&p, 1, wait);
    if (rc < 0 && errno != EINTR) s.FailConnection();
    if (rc > 0) return PQconsumeInput(conn) != 0;
  }
}

void AwaitResult(const PgSession& s, PgDeadline* deadline) {
  while (PQisBusy(s.Conn()))
    if (!AwaitInput(s, deadline)) return;  // PQgetResult reports the loss
}

PgResult NextResult(const PgSession& s, PgDeadline* deadline) {
  PGconn* conn = s.Conn();
  if (deadline && !deadline->none()) AwaitResult(s, deadline);
  for (;;) {
    PgResult r(PQgetResult(conn));
    if (!r) return r;
    // There is no client-side stream for COPY: refuse it and keep the
    // connection in step with the server.
    switch (PQresultStatus(r.get())) {
      case PGRES_COPY_IN:
        PQputCopyEnd(conn, "COPY FROM STDIN is not supported; use INSERT");
        continue;
      case PGRES_COPY_OUT:
      case PGRES_COPY_BOTH: {
        char* buf = nullptr;
        while (PQgetCopyData(conn, &buf, 0) > 0) PQfreemem(buf);
        s.copy_out_refused = true;
        continue;
      }
      default:
        return r;
    }
  }
}

void FailIfCopyOut(const PgSession& s) {
  if (!s.copy_out_refused) return;
  s.copy_out_refused = false;
  s.Fail("COPY TO STDOUT is not supported; read the rows with a SELECT");
}

bool IsError(const PGresult* r) {
  const ExecStatusType st = PQresultStatus(r);
  return st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE || st == PGRES_NONFATAL_ERROR;
}

void FailWith(const PgSession& s, const PGresult* r, const PgDeadline* deadline) {
  const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
  if (deadline && deadline->expired && state && std::strcmp(state, "57014") == 0)
    FailTimeOut(*deadline);
  s.FailResult(r);
}

void FailTimeOut(const PgDeadline& deadline) {
  throw Error(kEDatabaseError, "The command time-out of " + std::to_string(deadline.seconds()) +
                                   " s expired and the statement was canceled");
}

PgResult Drain(const PgSession& s, PgDeadline* deadline) {
  PgResult first_error, first_result;
  while (PgResult r = NextResult(s, deadline)) {
    if (!IsError(r.get())) {
      if (!first_result) first_result = std::move(r);
    } else if (!first_error) {
      first_error = std::move(r);
    }
  }
  if (first_error) {
    s.copy_out_refused = false;
    FailWith(s, first_error.get(), deadline);
  }
  FailIfCopyOut(s);
  if (PQstatus(s.Conn()) != CONNECTION_OK) s.FailConnection();
  return first_result;
}

}  // namespace ostrevane
