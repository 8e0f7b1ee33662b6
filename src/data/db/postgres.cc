// The PostgreSQL backend on libpq.
//
// A query without parameters is streamed as COPY ... TO STDOUT (see
// pg_copy_cursor.h), every other statement that returns rows in single-row
// mode; either way a forward-only export holds one row at a time. The
// command time-out bounds the wait for a statement to execute and start
// delivering (or, without rows, to finish); reading a long result at the
// writers' pace is never cut off by it. When it expires the statement is
// canceled through libpq's cancel request.
//
// Session formats are fixed after connecting (ISO dates, UTF-8, shortest
// exact floats, hex bytea) and restored before a statement when a script
// changed the ones the server reports.
#include <libpq-fe.h>

#include <cstring>
#include <string_view>

#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/keepalive.h"
#include "data/db/pg_copy_cursor.h"
#include "data/db/pg_row_cursor.h"
#include "data/db/pg_session.h"
#include "data/db/pg_statements.h"
#include "data/db/pg_types.h"

namespace ostrevane {
namespace {

// The statements COPY can stream: queries whose first word says they
// return rows. Others that do (INSERT ... RETURNING, FETCH, SHOW) are read
// in single-row mode.
bool IsQueryKeyword(const std::string& keyword) {
  return keyword == "SELECT" || keyword == "WITH" || keyword == "VALUES" || keyword == "TABLE";
}

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
    auto session = std::make_shared<PgSession>();
    std::string host, port;
    SplitHostPort(cs.Get("Data Source"), host, port);
    if (port.empty()) port = cs.Get("Port");
    std::string db = cs.Get("Initial Catalog");
    if (db.empty()) db = cs.Get("Location");
    const std::string timeout = std::to_string(connect_timeout < 0 ? 0 : connect_timeout);

    // TCP keepalive probes (keepalive.h), unless the connection string sets
    // these keys itself.
    auto keep = [&cs](const char* key, int value) {
      return std::pair<std::string, std::string>(
          key, cs.Has(key) ? cs.Get(key) : std::to_string(value));
    };
    std::vector<std::pair<std::string, std::string>> params = {
        {"host", host},
        {"port", port},
        {"dbname", db},
        {"user", cs.Get("User ID")},
        {"password", cs.Get("Password")},
        {"connect_timeout", timeout},
        {"client_encoding", "UTF8"},
        {"application_name", "ostrevane"},
        keep("keepalives", 1),
        keep("keepalives_idle", kKeepaliveIdleSeconds),
        keep("keepalives_interval", kKeepaliveIntervalSeconds),
        keep("keepalives_count", kKeepaliveCount),
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
    session->canceller = std::make_unique<PgCanceller>(session->conn);
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
    session_->canceller.reset();  // before its socket goes
    if (session_->conn) PQfinish(session_->conn);
    session_->conn = nullptr;
    session_->active = nullptr;
    session_.reset();
  }

  void Cancel() override {
    if (session_ && session_->canceller) session_->canceller->Send();
  }

  void Sever() override {
    if (session_ && session_->canceller) session_->canceller->Sever();
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
  SqlDialect dialect() const override { return SqlDialect::kPostgres; }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    PgSession& s = Ready();
    PgDeadline deadline(command_timeout);
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
      const PgStatement& st = statements[k];
      if (last && want_rows && st.params.empty() && IsQueryKeyword(st.keyword)) {
        const std::string_view query = std::string_view(sql).substr(st.begin, st.end - st.begin);
        if (std::unique_ptr<Cursor> cursor = OpenPgCopyCursor(session_, query, deadline))
          return cursor;
      }
      if (statements.size() == 1 && params.empty()) {
        Send(sql, {}, {});
      } else {
        PgPiece piece = MakePgPiece(sql, st, params.size());
        Send(piece.sql, piece.value_index, params);
      }
      if (last && want_rows) {
        if (!PQsetSingleRowMode(s.conn)) s.FailConnection();
        return OpenPgRowCursor(session_, deadline);
      }
      Drain(s, &deadline);
    }
    return std::make_unique<EmptyCursor>();
  }

 private:
  const char* ClientEncoding() const { return session_->sql_ascii ? "SQL_ASCII" : "UTF8"; }

  // The session, idle and with its formats in place.
  PgSession& Ready() {
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

  std::shared_ptr<PgSession> session_;
};

}  // namespace

std::unique_ptr<Backend> MakePostgresBackend() { return std::make_unique<PostgresBackend>(); }

}  // namespace ostrevane
