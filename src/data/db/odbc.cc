// The ODBC backend on unixODBC (providers "ODBC" and "MSDASQL").
//
// Text crosses in the driver's own width: with a Unicode driver through the
// wide entry points and SQL_C_WCHAR (UTF-16), with an ANSI-only driver
// through the narrow ones as UTF-8 bytes (invalid bytes become U+FFFD). The
// driver manager would otherwise convert between the two through the
// process locale's character set, which under the C locale of a scheduled
// run loses every non-ASCII character. Results of Unicode drivers known to
// give UTF-8 as SQL_C_CHAR under a UTF-8 character type (which the program
// sets up at its start) are read narrow, which costs them less.
//
// Rows are read into bound column buffers, a block of them a fetch where
// the driver allows (odbc_rows.h); drivers that cannot are read column by
// column with SQLGetData, long values in chunks. A statement handle lives
// as long as its cursor, and Close() releases the handles of cursors that
// are still alive.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "common/character_type.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/odbc_columns.h"
#include "data/db/odbc_connect.h"
#include "data/db/odbc_connect_text.h"
#include "data/db/odbc_params.h"
#include "data/db/odbc_rows.h"
#include "data/db/odbc_session.h"
#include "data/db/odbc_watchdog.h"

namespace ostrevane {
namespace odbc {
namespace {

// What became of a statement whose time ran out. When neither the driver
// nor the program could cancel it (see CancelStatement()), it ran to its end, and
// the message must not claim otherwise.
Error TimedOut(int seconds, const Watchdog& watchdog, std::chrono::steady_clock::time_point start) {
  const std::string limit = "The command time-out of " + std::to_string(seconds) + " s expired";
  if (!watchdog.cancel_failed())
    return Error(kEDatabaseError, limit + " and the statement was canceled");
  const auto ran =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  return Error(kEDatabaseError, limit +
                                    "; the statement could not be canceled and ran on until it "
                                    "ended after " +
                                    std::to_string(ran.count()) + " s");
}

// Runs the statement's remaining results (later statements of a script)
// and raises the first failure among them.
void FinishResults(SQLHSTMT stmt, const Session& s) {
  for (;;) {
    SQLRETURN rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) return;
    if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
  }
}

// Cancels the running statement `stmt`. MariaDB's driver cancels through a
// connection of its own that lacks the TLS options of the first, which a
// server that requires TLS refuses: for MySQL/MariaDB the program then
// kills the query itself through a connection made as the first was.
bool CancelStatement(SQLHSTMT stmt, const Session& s) {
  if (Ok(SQLCancel(stmt))) return true;
  if (s.mysql_connection_id.empty()) return false;
  constexpr int kDefaultSeconds = 10;  // for a connection time-out of 0 (none)
  return KillMysqlQuery(s.connect_text, s.mysql_connection_id,
                        s.connect_timeout > 0 ? s.connect_timeout : kDefaultSeconds);
}

// The first value of a statement's result as text ("" without one).
std::string QueryText(const Session& s, const char* sql) {
  SQLHANDLE h;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, s.dbc.get(), &h))) return "";
  Handle stmt(SQL_HANDLE_STMT, h);
  std::string text = sql;
  char value[64] = {};
  SQLLEN len = 0;
  if (!Ok(SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQLINTEGER(text.size()))) ||
      !Ok(SQLFetch(h)) || !Ok(SQLGetData(h, 1, SQL_C_CHAR, value, sizeof value, &len)) || len < 0)
    return "";
  return value;
}

// The SQL dialect of the database behind the driver, by the name the
// driver gives it; kGeneric when it is none of ours.
SqlDialect DialectOf(SQLHDBC dbc) {
  char name[256] = {};
  SQLSMALLINT len = 0;
  if (!Ok(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &len))) return SqlDialect::kGeneric;
  const std::string dbms = ToLowerAscii(name);
  if (dbms.find("postgres") != std::string::npos) return SqlDialect::kPostgres;
  if (dbms.find("mysql") != std::string::npos || dbms.find("mariadb") != std::string::npos)
    return SqlDialect::kMysql;
  if (dbms.find("sqlite") != std::string::npos) return SqlDialect::kSqlite;
  return SqlDialect::kGeneric;
}
}  // namespace

class OdbcCursor : public Cursor {
 public:
  // `watchdog`, when given, may cancel the statement while the constructor
  // looks for its result set: it is stopped before the constructor frees
  // the handle (a statement without rows, a failure).
  OdbcCursor(std::shared_ptr<Session> session, Handle stmt, std::vector<BoundBuffer> buffers,
             Watchdog* watchdog = nullptr)
      : session_(std::move(session)),
        stmt_(std::move(stmt)),
        buffers_(std::move(buffers)),
        watchdog_(watchdog) {
    session_->cursors.insert(this);
    try {
      FindResultSet();
    } catch (...) {
      Release();  // no destructor runs for a cursor that failed to construct
      throw;
    }
    watchdog_ = nullptr;
  }

  ~OdbcCursor() override { Release(); }

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (!stmt_) {
      if (!session_->connected && !fields_.empty() && !done_)
        throw Error(kEDatabaseError, "The connection is closed");
      return false;
    }
    try {
      if (block_ ? block_->Next(stmt_.get(), columns_, *session_, row) : FetchCells(row))
        return true;
      done_ = true;
      FinishResults(stmt_.get(), *session_);
    } catch (...) {
      done_ = true;
      Release();
      throw;
    }
    Release();
    return false;
  }

  // Moves to the first result that has columns and describes them; without
  // one, the statement is done and its handle released.
  void FindResultSet() {
    for (;;) {
      SQLSMALLINT n = 0;
      if (!Ok(SQLNumResultCols(stmt_.get(), &n))) session_->Fail(SQL_HANDLE_STMT, stmt_.get());
      if (n > 0) {
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(n); ++c) {
          auto [def, col] = DescribeColumn(stmt_.get(), c, *session_);
          fields_.push_back(std::move(def));
          columns_.push_back(std::move(col));
        }
        block_ = RowBlock::Bind(stmt_.get(), columns_, *session_);
        return;
      }
      SQLRETURN rc = SQLMoreResults(stmt_.get());
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) session_->Fail(SQL_HANDLE_STMT, stmt_.get());
    }
    Release();
  }

  // Frees the statement handle; before SQLDisconnect, which would free it too.
  void Release() {
    if (!stmt_) return;
    if (watchdog_) watchdog_->Stop();
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    session_->Free(stmt_);
    block_.reset();  // its buffers were bound to the statement freed above
    session_->cursors.erase(this);
  }

 private:
  // The next row read cell by cell; false at the end of the result set.
  bool FetchCells(std::vector<Value>& row) {
    const SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) return false;
    if (!Ok(rc)) session_->Fail(SQL_HANDLE_STMT, stmt_.get());
    row.resize(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c)
      reader_.Read(stmt_.get(), SQLUSMALLINT(c + 1), columns_[c], *session_, row[c]);
    return true;
  }

  std::shared_ptr<Session> session_;
  Handle stmt_;
  std::vector<FieldDef> fields_;
  std::vector<Column> columns_;
  std::vector<BoundBuffer> buffers_;  // bound parameters, read by later statements of a script
  std::unique_ptr<RowBlock> block_;   // bound result columns; null: read cell by cell
  ColumnReader reader_;
  Watchdog* watchdog_;  // during construction only
  bool done_ = false;
};

namespace {

class OdbcBackend : public Backend {
 public:
  ~OdbcBackend() override {
    try {
      Close();
    } catch (...) {
    }
  }

  void Open(const ConnectionString& cs, int connect_timeout) override {
    Close();
    auto s = std::make_shared<Session>();
    SQLHANDLE h;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
      throw Error(kEDatabaseError, "The ODBC driver manager cannot be initialised");
    s->env = Handle(SQL_HANDLE_ENV, h);
    SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, s->env.get(), &h)))
      s->Fail(SQL_HANDLE_ENV, s->env.get());
    s->dbc = Handle(SQL_HANDLE_DBC, h);
    const std::vector<std::string> drivers =
        DriverNames(s->env.get(), cs.Get("Driver"), cs.Get("Data Source"));
    OdbcConnectText text = MakeOdbcConnectText(cs, drivers);
    s->connect_text = text.text;
    s->connect_timeout = connect_timeout;
    SQLRETURN rc = ConnectWithin(*s, std::move(text.text), connect_timeout);
    if (!Ok(rc)) s->Fail(SQL_HANDLE_DBC, s->dbc.get());
    s->connected = true;
    s->transaction = text.transaction;
    // The connection time-out attribute would also limit every later
    // request; statements have the command time-out instead.
    SQLSetConnectAttr(s->dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, nullptr, 0);
    s->wide = DriverIsWide(s->dbc.get(), drivers);
    s->narrow_results = !s->wide || (text.traits.utf8_narrow && CharacterTypeIsUtf8());
    s->dialect = dialect_ = DialectOf(s->dbc.get());
    if (s->dialect == SqlDialect::kMysql)
      s->mysql_connection_id = QueryText(*s, "SELECT CONNECTION_ID()");
    else
      s->connect_text.clear();
    s->traits = text.traits;
    SQLUINTEGER gets = 0;
    if (Ok(SQLGetInfo(s->dbc.get(), SQL_GETDATA_EXTENSIONS, &gets, sizeof gets, nullptr))) {
      constexpr SQLUINTEGER kBound = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
      s->bound_reads = (gets & kBound) == kBound;
      if (!(gets & SQL_GD_BLOCK)) s->traits.positioned_reads = false;
    }
    session_ = std::move(s);
  }

  void Close() override {
    if (!session_) return;
    std::shared_ptr<Session> s = std::move(session_);
    while (!s->cursors.empty()) (*s->cursors.begin())->Release();
    if (s->connected) SQLDisconnect(s->dbc.get());
    s->connected = false;
  }

  // The program's own statements (begin, commit, rollback) are never
  // among those canceled: a stopped job still rolls back.
  void Cancel() override {
    if (session_) session_->CancelAll();
  }

  void Begin() override {
    if (session_ && session_->transaction == OdbcTransaction::kSqlStatements) {
      Statement("BEGIN");
      session_->in_transaction = true;
      return;
    }
    if (!Ok(SQLSetConnectAttr(Dbc(), SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      session_->Fail(SQL_HANDLE_DBC, Dbc());
  }

  void Commit() override { End(SQL_COMMIT); }

  void Rollback() override {
    if (!session_ || !session_->connected) return;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (Ok(SQLGetConnectAttr(Dbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE)
      return;  // the server dropped the transaction with the connection
    End(SQL_ROLLBACK);
  }

  std::string Placeholder(size_t) const override { return "?"; }
  SqlDialect dialect() const override { return dialect_; }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    SQLHANDLE h;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, Dbc(), &h))) session_->Fail(SQL_HANDLE_DBC, Dbc());
    Handle stmt(SQL_HANDLE_STMT, h);
    // Reachable by Cancel until freed: here, or by the cursor that takes it.
    session_->Enter(h);
    struct FreeUnlessTaken {
      Session& session;
      Handle& stmt;
      ~FreeUnlessTaken() {
        if (stmt) session.Free(stmt);
      }
    } free_unless_taken{*session_, stmt};
    const int timeout = command_timeout < 0 ? 0 : command_timeout;
    // A driver that refuses the time-out or changes it (01S02; MariaDB's
    // accepts it that way and ignores it) is timed by the program itself.
    const bool driver_times =
        SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(intptr_t(timeout)),
                       0) == SQL_SUCCESS;
    std::vector<BoundBuffer> buffers(params.size());
    for (size_t k = 0; k < params.size(); ++k)
      BindParam(h, SQLUSMALLINT(k + 1), params[k], buffers[k], *session_);
    // The watchdog covers the execution and the statements of a script up
    // to the first result with rows, as the driver's own time-out would.
    const auto start = std::chrono::steady_clock::now();
    Watchdog watchdog(driver_times ? 0 : timeout,
                      [h, s = session_.get()] { return CancelStatement(h, *s); });
    try {
      SQLRETURN rc;
      if (session_->wide) {
        std::u16string text = Wide(sql);
        rc = SQLExecDirectW(h, W(text), SQLINTEGER(text.size()));
      } else {
        std::string text = sql;
        rc = SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQLINTEGER(text.size()));
      }
      if (!Ok(rc) && rc != SQL_NO_DATA) session_->Fail(SQL_HANDLE_STMT, h);
      std::unique_ptr<Cursor> cursor;
      if (!want_rows)
        FinishResults(h, *session_);
      else
        cursor =
            std::make_unique<OdbcCursor>(session_, std::move(stmt), std::move(buffers), &watchdog);
      watchdog.Stop();
      // A cancel that came as the statement ended may have closed its
      // cursor: past the deadline, the statement counts as canceled.
      if (watchdog.expired()) throw TimedOut(timeout, watchdog, start);
      if (!cursor) return std::make_unique<EmptyCursor>();
      return cursor;
    } catch (const Error&) {
      watchdog.Stop();
      if (watchdog.expired()) throw TimedOut(timeout, watchdog, start);
      throw;
    }
  }

 private:
  SQLHDBC Dbc() const {
    if (!session_) throw Error(kEDatabaseError, "The connection is closed");
    return session_->Dbc();
  }

  // Runs a statement of the program's own (no rows, no parameters).
  void Statement(const char* sql) {
    SQLHANDLE h;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, Dbc(), &h))) session_->Fail(SQL_HANDLE_DBC, Dbc());
    Handle stmt(SQL_HANDLE_STMT, h);
    std::string text = sql;
    if (!Ok(SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQLINTEGER(text.size()))))
      session_->Fail(SQL_HANDLE_STMT, h);
  }

  void End(SQLSMALLINT how) {
    if (session_ && session_->transaction == OdbcTransaction::kSqlStatements) {
      if (!session_->in_transaction) return;
      session_->in_transaction = false;
      Statement(how == SQL_COMMIT ? "COMMIT" : "ROLLBACK");
      return;
    }
    SQLHDBC dbc = Dbc();
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, how);
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    if (!Ok(rc)) session_->Fail(SQL_HANDLE_DBC, dbc);
  }

  std::shared_ptr<Session> session_;
  SqlDialect dialect_ = SqlDialect::kGeneric;  // of the last connection
};

}  // namespace
}  // namespace odbc

std::unique_ptr<Backend> MakeOdbcBackend() { return std::make_unique<odbc::OdbcBackend>(); }

}  // namespace ostrevane
