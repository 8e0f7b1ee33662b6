// The PostgreSQL backend on libpq.
//
// Rows are streamed in single-row mode, so a forward-only export holds one
// row at a time. The command time-out bounds the wait for a statement to
// execute and start delivering (or, without rows, to finish); reading a
// long result at the writers' pace is never cut off by it. When it expires
// the statement is canceled through libpq's cancel request.
//
// Session formats are fixed after connecting (ISO dates, UTF-8, shortest
// exact floats, hex bytea) and restored before a statement when a script
// changed the ones the server reports.
#include <libpq-fe.h>
#include <poll.h>
#include <time.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/decimal_text.h"
#include "data/db/pg_statements.h"
#include "data/db/pg_types.h"

namespace ostrevane {
namespace {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, ResultDeleter>;

using Clock = std::chrono::steady_clock;

// The connection shared by the backend and its cursors: a cursor may
// outlive Close(), after which it only reports that the connection is gone.
struct Session {
  PGconn* conn = nullptr;
  bool sql_ascii = false;
  class PgCursor* active = nullptr;       // the cursor still receiving rows
  mutable bool copy_out_refused = false;  // a COPY TO STDOUT's data was thrown away

  [[noreturn]] void Fail(std::string message) const {
    throw Error(kEDatabaseError, PgOneLine(message));
  }
  [[noreturn]] void FailConnection() const {
    Fail(conn ? PQerrorMessage(conn) : "The connection is closed");
  }
  [[noreturn]] void FailResult(const PGresult* r) const {
    const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    if (primary && *primary) Fail(primary);
    const char* msg = PQresultErrorMessage(r);
    if (msg && *msg) Fail(msg);
    FailConnection();
  }
  PGconn* Conn() const {
    if (!conn) throw Error(kEDatabaseError, "The connection is closed");
    return conn;
  }
};

// A deadline for the wait of a statement; none when the time-out is 0.
class Deadline {
 public:
  explicit Deadline(int seconds) : seconds_(seconds) {
    if (seconds > 0) end_ = Clock::now() + std::chrono::seconds(seconds);
  }
  bool none() const { return seconds_ <= 0; }
  int seconds() const { return seconds_; }
  int RemainingMs() const {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return ms < 0 ? 0 : int(std::min<int64_t>(ms, 1 << 30));
  }
  bool expired = false;  // the cancel request went out

 private:
  int seconds_;
  Clock::time_point end_{};
};

void SendCancel(PGconn* conn) {
  PGcancel* c = PQgetCancel(conn);
  if (!c) return;
  char err[256];
  PQcancel(c, err, sizeof err);
  PQfreeCancel(c);
}

// The next result of the running statement; waits at most until the
// deadline, then cancels the statement and waits for its outcome.
PgResult NextResult(const Session& s, Deadline* deadline) {
  PGconn* conn = s.Conn();
  if (deadline && !deadline->none()) {
    while (PQisBusy(conn)) {
      const int wait = deadline->expired ? -1 : deadline->RemainingMs();
      if (!deadline->expired && wait == 0) {
        SendCancel(conn);
        deadline->expired = true;
        continue;
      }
      pollfd p{PQsocket(conn), POLLIN, 0};
      if (p.fd < 0) s.FailConnection();
      int rc = poll(&p, 1, wait);
      if (rc < 0 && errno != EINTR) s.FailConnection();
      if (rc > 0 && !PQconsumeInput(conn)) break;  // PQgetResult reports the loss
    }
  }
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

void FailIfCopyOut(const Session& s) {
  if (!s.copy_out_refused) return;
  s.copy_out_refused = false;
  s.Fail("COPY TO STDOUT is not supported; read the rows with a SELECT");
}

bool IsError(const PGresult* r) {
  const ExecStatusType st = PQresultStatus(r);
  return st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE || st == PGRES_NONFATAL_ERROR;
}

// Raises the error of a failed result; a time-out gets its own message.
[[noreturn]] void FailWith(const Session& s, const PGresult* r, const Deadline* deadline) {
  const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
  if (deadline && deadline->expired && state && std::strcmp(state, "57014") == 0)
    throw Error(kEDatabaseError, "The command time-out of " + std::to_string(deadline->seconds()) +
                                     " s expired and the statement was canceled");
  s.FailResult(r);
}

// Reads every remaining result of the statement, discarding rows; raises
// the first error after all were read (the connection is then idle).
void Drain(const Session& s, Deadline* deadline) {
  PgResult first_error;
  while (PgResult r = NextResult(s, deadline))
    if (IsError(r.get()) && !first_error) first_error = std::move(r);
  if (first_error) {
    s.copy_out_refused = false;
    FailWith(s, first_error.get(), deadline);
  }
  FailIfCopyOut(s);
  if (PQstatus(s.Conn()) != CONNECTION_OK) s.FailConnection();
}

class PgCursor : public Cursor {
 public:
  PgCursor(std::shared_ptr<Session> session, Deadline deadline) : session_(std::move(session)) {
    // Wait for the statement under the deadline until its rows begin.
    for (;;) {
      PgResult r = NextResult(*session_, &deadline);
      if (!r) {
        finished_ = true;
        FailIfCopyOut(*session_);
        break;
      }
      if (IsError(r.get())) {
        finished_ = true;
        PgResult keep = std::move(r);
        try {
          Drain(*session_, nullptr);
        } catch (const Error&) {
        }
        FailWith(*session_, keep.get(), &deadline);
      }
      const ExecStatusType st = PQresultStatus(r.get());
      if (st == PGRES_SINGLE_TUPLE || st == PGRES_TUPLES_OK) {
        Describe(r.get());
        if (st == PGRES_SINGLE_TUPLE)
          pending_.push_back(std::move(r));
        else
          Finish();
        break;
      }
      // A command without rows before the result set: keep waiting.
    }
    if (!finished_) session_->active = this;
  }

  ~PgCursor() override {
    if (session_->active == this) {
      session_->active = nullptr;
      try {
        Drain(*session_, nullptr);
      } catch (...) {
        // The statement failed after its reader lost interest; nothing to tell.
      }
    }
  }

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (abandoned_)
      throw Error(kEDatabaseError, "The rest of the result set was discarded by a rollback");
    for (;;) {
      PgResult r;
      if (!pending_.empty()) {
        r = std::move(pending_.front());
        pending_.pop_front();
      } else if (finished_) {
        return false;
      } else {
        r = NextResult(*session_, nullptr);
        if (!r) {
          finished_ = true;
          session_->active = nullptr;
          if (PQstatus(session_->Conn()) != CONNECTION_OK) session_->FailConnection();
          return false;
        }
      }
      const ExecStatusType st = PQresultStatus(r.get());
      if (st == PGRES_SINGLE_TUPLE) {
        row.resize(columns_.size());
        for (size_t c = 0; c < columns_.size(); ++c)
          ConvertPgValue(columns_[c], PQgetvalue(r.get(), 0, int(c)), PQgetlength(r.get(), 0, int(c)),
                  PQgetisnull(r.get(), 0, int(c)), session_->sql_ascii, row[c]);
        return true;
      }
      if (IsError(r.get())) {
        pending_.clear();
        if (!finished_) {
          finished_ = true;
          session_->active = nullptr;
          try {
            Drain(*session_, nullptr);
          } catch (const Error&) {
          }
        }
        session_->FailResult(r.get());
      }
      if (st == PGRES_TUPLES_OK && !finished_) Finish();
      // End of the row set (or a later command's result): read on.
    }
  }

  // Stops the stream of a result whose transaction is being rolled back:
  // its remaining rows are worthless, so they are neither read into memory
  // nor waited for.
  void Abandon() {
    session_->active = nullptr;
    SendCancel(session_->Conn());
    try {
      Drain(*session_, nullptr);
    } catch (const Error&) {
      // The cancel's own error, or the statement's: the rollback follows.
    }
    pending_.clear();
    finished_ = true;
    abandoned_ = true;
  }

  // Reads the rest of the stream into memory so that the connection can run
  // another statement while this cursor stays readable.
  void Detach() {
    session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr)) {
      const bool tuples_end = PQresultStatus(r.get()) == PGRES_TUPLES_OK;
      if (!tuples_end) pending_.push_back(std::move(r));
    }
    finished_ = true;
  }

 private:
  void Describe(const PGresult* r) {
    const int n = PQnfields(r);
    for (int c = 0; c < n; ++c) {
      std::string name = PQfname(r, c);
      if (session_->sql_ascii) name = SanitizeUtf8(name);
      auto [def, conv] = DescribePgColumn(PQftype(r, c), PQfmod(r, c), name);
      fields_.push_back(std::move(def));
      columns_.push_back({conv, std::move(name)});
    }
  }

  // The row set ended: collect what follows (normally nothing) so that an
  // error after the rows is still reported.
  void Finish() {
    finished_ = true;
    if (session_->active == this) session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr))
      if (IsError(r.get())) pending_.push_back(std::move(r));
  }

  std::shared_ptr<Session> session_;
  std::vector<FieldDef> fields_;
  std::vector<PgColumn> columns_;
  std::deque<PgResult> pending_;  // results received but not yet read
  bool finished_ = false;         // the connection has no more results for us
  bool abandoned_ = false;        // a rollback discarded the rest
};

// Splits "host:port"; an IPv6 address stays whole unless bracketed.
void SplitHostPort(const std::string& ds, std::string& host, std::string& port) {
  host = ds;
  if (!ds.empty() && ds.front() == '[') {
    size_t close = ds.find(']');
    if (close != std::string::npos) {
      host = ds.substr(1, close - 1);
      if (close + 1 < ds.size() && ds[close + 1] == ':') port = ds.substr(close + 2);
    }
    return;
  }
  size_t colon = ds.rfind(':');
  if (colon != std::string::npos && ds.find(':') == colon && colon + 1 < ds.size() &&
      ds.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    host = ds.substr(0, colon);
    port = ds.substr(colon + 1);
  }
}

class PostgresBackend : public Backend {
 public:
  ~PostgresBackend() override { Close(); }

  void Open(const ConnectionString& cs, int connect_timeout) override {
    Close();
    auto session = std::make_shared<Session>();
    std::string host, port;
    SplitHostPort(cs.Get("Data Source"), host, port);
    if (port.empty()) port = cs.Get("Port");
    std::string db = cs.Get("Initial Catalog");
    if (db.empty()) db = cs.Get("Location");
    const std::string timeout = std::to_string(connect_timeout < 0 ? 0 : connect_timeout);

    std::vector<std::pair<std::string, std::string>> params = {
        {"host", host},
        {"port", port},
        {"dbname", db},
        {"user", cs.Get("User ID")},
        {"password", cs.Get("Password")},
        {"connect_timeout", timeout},
        {"client_encoding", "UTF8"},
        {"application_name", "ostrevane"},
    };
    // Other libpq keywords (sslmode, sslrootcert, ...) pass through.
    if (PQconninfoOption* defaults = PQconndefaults()) {
      for (const auto& [key, value] : cs.entries()) {
        bool known = false;
        for (auto& p : params) known = known || IEquals(p.first, key);
        if (known || IEquals(key, "password") || IEquals(key, "expand_dbname")) continue;
        for (PQconninfoOption* o = defaults; o->keyword; ++o)
          if (IEquals(o->keyword, key)) params.emplace_back(o->keyword, value);
      }
      PQconninfoFree(defaults);
    }
    std::vector<const char*> keys, values;
    for (const auto& [k, v] : params) {
      if (v.empty()) continue;  // libpq's default (environment, socket)
      keys.push_back(k.c_str());
      values.push_back(v.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    session->conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (!session->conn) throw Error(kEDatabaseError, "Out of memory connecting to PostgreSQL");
    if (PQstatus(session->conn) != CONNECTION_OK) {
      std::string message = PQerrorMessage(session->conn);
      PQfinish(session->conn);
      session->conn = nullptr;
      session->Fail(message);
    }
    PQsetNoticeProcessor(
        session->conn, [](void*, const char*) {}, nullptr);
    const char* enc = PQparameterStatus(session->conn, "server_encoding");
    session->sql_ascii = enc && std::strcmp(enc, "SQL_ASCII") == 0;
    session_ = std::move(session);
    try {
      // A SQL_ASCII database holds bytes in no known encoding, and the server
      // refuses to send them as UTF-8: they come raw and are made valid here.
      Exec(std::string("SET DateStyle = 'ISO, MDY'; SET extra_float_digits = 3; "
                       "SET bytea_output = 'hex'; SET IntervalStyle = 'postgres'; ") +
           "SET client_encoding = '" + ClientEncoding() + "'");
    } catch (...) {
      Close();
      throw;
    }
  }

  void Close() override {
    if (!session_) return;
    if (session_->conn) PQfinish(session_->conn);
    session_->conn = nullptr;
    session_->active = nullptr;
    session_.reset();
  }

  void Begin() override { Exec("BEGIN"); }

  void Commit() override {
    PgResult r = Exec("COMMIT");
    // COMMIT of a transaction that an error aborted answers "ROLLBACK".
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
      throw Error(kEDatabaseError,
                  "The transaction was rolled back by the server because a statement in it failed");
  }

  void Rollback() override {
    // A lost connection has nothing left to roll back.
    if (!session_ || !session_->conn || PQstatus(session_->conn) != CONNECTION_OK) return;
    if (session_->active) session_->active->Abandon();
    Exec("ROLLBACK");
  }

  std::string Placeholder(size_t index) const override {
    return Concat({"$", std::to_string(index + 1)});
  }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    Session& s = Ready();
    Deadline deadline(command_timeout);
    if (!want_rows && params.empty()) {
      // A script goes whole to the server, which splits it.
      Send(sql, {}, {});
      Drain(s, &deadline);
      return std::make_unique<EmptyCursor>();
    }
    std::vector<PgStatement> statements = SplitPgStatements(sql);
    if (statements.empty()) return std::make_unique<EmptyCursor>();
    for (size_t k = 0; k < statements.size(); ++k) {
      const bool last = k + 1 == statements.size();
      if (k > 0) RestoreFormats();
      if (statements.size() == 1 && params.empty()) {
        Send(sql, {}, {});
      } else {
        PgPiece piece = MakePgPiece(sql, statements[k], params.size());
        Send(piece.sql, piece.value_index, params);
      }
      if (last && want_rows) {
        if (!PQsetSingleRowMode(s.conn)) s.FailConnection();
        return std::make_unique<PgCursor>(session_, deadline);
      }
      Drain(s, &deadline);
    }
    return std::make_unique<EmptyCursor>();
  }

 private:
  const char* ClientEncoding() const { return session_->sql_ascii ? "SQL_ASCII" : "UTF8"; }

  // The session, idle and with its formats in place.
  Session& Ready() {
    if (!session_ || !session_->conn) throw Error(kEDatabaseError, "The connection is closed");
    if (session_->active) session_->active->Detach();
    if (PQstatus(session_->conn) != CONNECTION_OK) session_->FailConnection();
    RestoreFormats();
    return *session_;
  }

  // A script may have changed the formats the reader relies on; the server
  // reports both settings, so the check costs no round trip.
  void RestoreFormats() {
    const char* ds = PQparameterStatus(session_->conn, "DateStyle");
    const char* ce = PQparameterStatus(session_->conn, "client_encoding");
    if ((ds && std::strncmp(ds, "ISO", 3) != 0) || (ce && std::strcmp(ce, ClientEncoding()) != 0))
      Exec(std::string("SET DateStyle = 'ISO, MDY'; SET client_encoding = '") + ClientEncoding() +
           "'");
  }

  // Runs an internal command to its end; returns its last result.
  PgResult Exec(const std::string& sql) {
    if (!session_ || !session_->conn) throw Error(kEDatabaseError, "The connection is closed");
    if (session_->active) session_->active->Detach();
    PgResult r(PQexec(session_->conn, sql.c_str()));
    if (!r) session_->FailConnection();
    if (IsError(r.get())) session_->FailResult(r.get());
    return r;
  }

  void Send(const std::string& sql, const std::vector<size_t>& value_index,
            const std::vector<BoundParam>& params) {
    PGconn* conn = session_->conn;
    int ok;
    if (value_index.empty()) {
      ok = PQsendQuery(conn, sql.c_str());
    } else {
      const size_t n = value_index.size();
      std::vector<Oid> types(n, 0);
      std::vector<std::string> texts(n);
      std::vector<const char*> values(n, nullptr);
      std::vector<int> lengths(n, 0), formats(n, 0);
      for (size_t k = 0; k < n; ++k) {
        const BoundParam& p = params[value_index[k]];
        types[k] = PgParamType(p.type);
        if (!p.value || p.value->IsNull()) continue;
        if (p.value->kind == ValueKind::kBytes) {
          types[k] = kByteaOid;
          formats[k] = 1;
          values[k] = p.value->s.data();
          lengths[k] = int(p.value->s.size());
          continue;
        }
        texts[k] = PgParamText(*p.value, types[k]);
        values[k] = texts[k].c_str();
      }
      ok = PQsendQueryParams(conn, sql.c_str(), int(n), types.data(), values.data(), lengths.data(),
                             formats.data(), 0);
    }
    if (!ok) session_->FailConnection();
  }

  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Backend> MakePostgresBackend() { return std::make_unique<PostgresBackend>(); }

}  // namespace ostrevane
