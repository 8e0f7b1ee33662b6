// The MySQL and MariaDB backend on the MariaDB client library.
//
// Rows are streamed: a statement without parameters goes through the text
// protocol and mysql_use_result, one with parameters is a prepared
// statement whose rows are fetched unbuffered. Either way the client holds
// one row at a time, and the connection cannot run another statement until
// the stream is read to its end; a statement that needs the connection
// meanwhile first reads the rest into memory (Detach).
//
// The command time-out bounds the wait for a statement to execute and
// deliver its first row (or, without rows, to finish); when it expires the
// watchdog cancels the statement with KILL QUERY from a connection of its
// own. Reading a long result afterwards is never cut off. A stopped job's
// statement is canceled the same way, at once (Cancel), and its connection
// broken off (Sever) when the server does not answer.
#include <mysql.h>
#include <mysqld_error.h>
#include <errmsg.h>

#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <deque>

#include "common/error.h"
#include "data/db/backend.h"
#include "data/db/mysql_session.h"
#include "data/db/mysql_statements.h"
#include "data/db/mysql_types.h"

namespace ostrevane {
namespace {

class MysqlCursor;

// The connection shared by the backend and its cursors: a cursor may
// outlive Close(), after which it only reports that the connection is gone.
struct Session {
  MysqlHandle handle;
  MysqlConnectParams params;
  std::unique_ptr<MysqlWatchdog> watchdog;
  // What other threads use (Backend::Cancel, Backend::Sever): the socket,
  // valid while the handle is, and whether the job canceled the statement
  // already (then nobody kills it again).
  my_socket socket = -1;
  std::atomic<bool> canceled{false};
  MysqlCursor* active = nullptr;  // the cursor still receiving rows
  int timeout = 0;                // of the statement being waited for

  MYSQL* Conn() const {
    if (!handle) throw Error(kEDatabaseError, "The connection is closed");
    return handle.get();
  }
  void Arm(int seconds) {
    timeout = seconds;
    if (seconds <= 0) return;
    if (!watchdog) watchdog = std::make_unique<MysqlWatchdog>(params, mysql_thread_id(Conn()));
    watchdog->Arm(seconds);
  }
  // True when the statement was canceled because its time-out expired.
  bool Disarm() {
    const bool fired = watchdog && watchdog->Disarm();
    timeout = fired ? timeout : 0;
    return fired;
  }
  [[noreturn]] void FailTimeout() const {
    throw Error(kEDatabaseError, "The command time-out of " + std::to_string(timeout) +
                                     " s expired and the statement was canceled");
  }
  // The statement failed: a time-out has its own message.
  [[noreturn]] void Fail(const char* message = nullptr) {
    if (Disarm()) FailTimeout();
    if (message && *message) throw Error(kEDatabaseError, MysqlOneLine(message));
    FailMysql(handle.get());
  }
  // Reads and throws away the current result's rows, if it has any; false
  // when that failed.
  bool FreeResult() {
    MYSQL* m = Conn();
    if (mysql_field_count(m) == 0) return true;
    if (MYSQL_RES* r = mysql_use_result(m)) mysql_free_result(r);
    return mysql_errno(m) == 0;
  }
  // Reads and throws away every further result of the statement sent last.
  void DrainResults(bool report) {
    MYSQL* m = Conn();
    for (;;) {
      const int rc = mysql_next_result(m);
      if (rc < 0) return;
      if (rc > 0) {
        if (report) Fail();
        return;
      }
      if (!FreeResult()) {
        if (report) Fail();
        return;
      }
    }
  }
};

class MysqlCursor : public Cursor {
 public:
  explicit MysqlCursor(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (abandoned_)
      throw Error(kEDatabaseError, "The rest of the result set was discarded by a rollback");
    if (!pending_.empty()) {
      row.swap(pending_.front());
      pending_.pop_front();
      return true;
    }
    return !finished_ && FetchFromServer(row);
  }

  // Reads the rest of the stream into memory so that the connection can run
  // another statement while this cursor stays readable.
  void Detach() {
    std::vector<Value> row(fields_.size());
    while (!finished_ && FetchFromServer(row)) pending_.push_back(row);
  }

  // Stops the stream of a result whose transaction is being rolled back,
  // or whose reader lost interest.
  void Abandon() noexcept {
    StopStream();
    pending_.clear();
    abandoned_ = true;
  }

 private:
  bool FetchFromServer(std::vector<Value>& row) {
    bool got = false;
    try {
      got = ReadRow(row);
    } catch (...) {
      StopStream();  // a value no field type holds: the rest is not wanted
      throw;
    }
    if (waiting_) {
      waiting_ = false;
      if (session_->Disarm()) {
        StopStream(/*kill=*/false);  // the watchdog has killed it already
        session_->FailTimeout();
      }
    }
    if (!got) End();
    return got;
  }

 protected:
  // Called by the constructor of a cursor whose stream is open.
  void Describe(MYSQL_FIELD* fields, unsigned count) {
    for (unsigned c = 0; c < count; ++c) {
      auto [def, conv] = DescribeMysqlColumn(fields[c]);
      columns_.push_back({conv, def.name});
      fields_.push_back(std::move(def));
    }
  }
  void Start() {
    waiting_ = session_->timeout > 0;
    session_->active = this;
  }
  void End() {
    finished_ = true;
    if (session_->active == this) session_->active = nullptr;
  }
  // Ends a stream that is still open: the server is told to stop sending
  // (its statement is killed) and what it sent meanwhile is thrown away,
  // so that the connection is idle again. Never throws.
  void StopStream(bool kill = true) noexcept {
    if (waiting_) {
      waiting_ = false;
      session_->Disarm();
    }
    if (StreamOpen() && session_->handle) {
      if (kill && !session_->canceled.load())
        KillMysqlQuery(session_->params, mysql_thread_id(session_->handle.get()));
      try {
        Discard();
      } catch (...) {
        // The cancel's own error: the rollback or the next statement follows.
      }
    }
    End();
  }
  virtual bool StreamOpen() const = 0;
  // The next row from the server; false at the end of the data, after the
  // connection is idle again. Raises the statement's error.
  virtual bool ReadRow(std::vector<Value>& row) = 0;
  // Throws the rest of the stream away; the connection is idle after it.
  virtual void Discard() = 0;

  std::shared_ptr<Session> session_;
  std::vector<FieldDef> fields_;
  std::vector<MysqlColumn> columns_;

 private:
  std::deque<std::vector<Value>> pending_;  // rows read ahead by Detach
  bool finished_ = false;                   // nothing more comes from the server
  bool abandoned_ = false;                  // a rollback discarded the rest
  bool waiting_ = false;                    // the first row is still awaited
};

// The rows of a statement sent as text.
class TextCursor : public MysqlCursor {
 public:
  TextCursor(std::shared_ptr<Session> session, MYSQL_RES* result)
      : MysqlCursor(std::move(session)), result_(result) {
    Describe(mysql_fetch_fields(result_), mysql_num_fields(result_));
    Start();
  }
  ~TextCursor() override { StopStream(); }

 protected:
  bool ReadRow(std::vector<Value>& row) override {
    MYSQL* m = session_->Conn();
    MYSQL_ROW r = mysql_fetch_row(result_);
    if (!r) {
      const bool failed = mysql_errno(m) != 0;
      std::string message = failed ? mysql_error(m) : "";
      mysql_free_result(result_);
      result_ = nullptr;
      if (failed) {
        session_->DrainResults(false);
        session_->Fail(message.c_str());
      }
      session_->DrainResults(true);
      return false;
    }
    const unsigned long* lengths = mysql_fetch_lengths(result_);
    row.resize(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c)
      ConvertMysqlText(columns_[c], r[c], r[c] ? lengths[c] : 0, row[c]);
    return true;
  }

  bool StreamOpen() const override { return result_ != nullptr; }

  void Discard() override {
    if (!result_) return;
    mysql_free_result(result_);  // reads what is left of the stream
    result_ = nullptr;
    session_->DrainResults(false);
  }

 private:
  MYSQL_RES* result_;
};

struct StmtCloser {
  void operator()(MYSQL_STMT* s) const { mysql_stmt_close(s); }
};
using StmtHandle = std::unique_ptr<MYSQL_STMT, StmtCloser>;

[[noreturn]] void FailStmt(Session& s, MYSQL_STMT* stmt) {
  std::string message = mysql_stmt_error(stmt);
  s.Fail(message.c_str());
}

// The rows of a prepared statement, fetched unbuffered. Numbers arrive as
// numbers; everything else as text or bytes into growing buffers.
class StmtCursor : public MysqlCursor {
 public:
  StmtCursor(std::shared_ptr<Session> session, StmtHandle stmt, MYSQL_RES* meta)
      : MysqlCursor(std::move(session)), stmt_(std::move(stmt)) {
    MYSQL_FIELD* f = mysql_fetch_fields(meta);
    const unsigned n = mysql_num_fields(meta);
    Describe(f, n);
    binds_.assign(n, MYSQL_BIND{});
    buffers_.resize(n);
    lengths_.assign(n, 0);
    nulls_.assign(n, 0);
    numbers_.assign(n, 0);
    for (unsigned c = 0; c < n; ++c) {
      MYSQL_BIND& b = binds_[c];
      b.length = &lengths_[c];
      b.is_null = &nulls_[c];
      if (Numeric(c)) {
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &numbers_[c];
        b.is_unsigned = f[c].flags & UNSIGNED_FLAG;
      } else if (MysqlIsFloating(columns_[c].conv)) {
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &numbers_[c];
      } else {
        b.buffer_type = f[c].charsetnr == 63 ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
        buffers_[c].resize(256);
        b.buffer = buffers_[c].data();
        b.buffer_length = buffers_[c].size();
      }
    }
    mysql_free_result(meta);
    if (mysql_stmt_bind_result(stmt_.get(), binds_.data())) FailStmt(*session_, stmt_.get());
    Start();
  }
  ~StmtCursor() override { StopStream(); }

 protected:
  bool ReadRow(std::vector<Value>& row) override {
    const int rc = mysql_stmt_fetch(stmt_.get());
    if (rc == MYSQL_NO_DATA) {
      stmt_.reset();
      return false;
    }
    if (rc == 1) {
      std::string message = mysql_stmt_error(stmt_.get());
      stmt_.reset();
      session_->Fail(message.c_str());
    }
    row.resize(columns_.size());
    bool rebind = false;
    for (size_t c = 0; c < columns_.size(); ++c) {
      const MysqlColumn& col = columns_[c];
      if (nulls_[c]) {
        ConvertMysqlText(col, nullptr, 0, row[c]);
      } else if (Numeric(c)) {
        uint64_t bits;
        std::memcpy(&bits, &numbers_[c], sizeof bits);
        ConvertMysqlInteger(col, bits, row[c]);
      } else if (MysqlIsFloating(col.conv)) {
        double d;
        std::memcpy(&d, &numbers_[c], sizeof d);
        row[c].SetDouble(col.conv == MysqlConversion::kFloat4 ? double(float(d)) : d);
      } else {
        std::string& buf = buffers_[c];
        if (lengths_[c] > buf.size()) {
          // A longer value than any before: fetch it whole, bind larger.
          buf.resize(lengths_[c]);
          MYSQL_BIND b = binds_[c];
          b.buffer = buf.data();
          b.buffer_length = buf.size();
          if (mysql_stmt_fetch_column(stmt_.get(), &b, unsigned(c), 0))
            FailStmt(*session_, stmt_.get());
          binds_[c].buffer = buf.data();
          binds_[c].buffer_length = buf.size();
          rebind = true;
        }
        ConvertMysqlText(col, buf.data(), lengths_[c], row[c]);
      }
    }
    if (rebind && mysql_stmt_bind_result(stmt_.get(), binds_.data()))
      FailStmt(*session_, stmt_.get());
    return true;
  }

  bool StreamOpen() const override { return stmt_ != nullptr; }
  void Discard() override { stmt_.reset(); }  // closing reads what is left

 private:
  // BIT values come as their bytes, like BLOBs; other integers as numbers.
  bool Numeric(size_t c) const {
    const MysqlConversion conv = columns_[c].conv;
    return MysqlIsIntegral(conv) && conv != MysqlConversion::kBit1 &&
           conv != MysqlConversion::kBits;
  }

  StmtHandle stmt_;
  std::vector<MYSQL_BIND> binds_;
  std::vector<std::string> buffers_;
  std::vector<unsigned long> lengths_;
  std::vector<my_bool> nulls_;
  std::vector<int64_t> numbers_;  // integers and doubles, as their bits
};

bool ConnectionLost(unsigned error) {
  return error == CR_SERVER_GONE_ERROR || error == CR_SERVER_LOST || error == ER_CONNECTION_KILLED;
}

class MysqlBackend : public Backend {
 public:
  ~MysqlBackend() override { Close(); }

  void Open(const ConnectionString& cs, int connect_timeout) override {
    Close();
    auto session = std::make_shared<Session>();
    session->params = ReadMysqlConnectParams(cs, connect_timeout);
    session->handle = ConnectMysql(session->params);
    MYSQL* m = session->handle.get();
    KeepMysqlAlive(m);
    session->socket = mysql_get_socket(m);
    session->watchdog = std::make_unique<MysqlWatchdog>(session->params, mysql_thread_id(m));
    session_ = std::move(session);
  }

  void Cancel() override {
    if (!session_) return;
    session_->canceled.store(true);
    session_->watchdog->CancelNow();
  }

  void Sever() override {
    if (session_ && session_->socket >= 0) ::shutdown(session_->socket, SHUT_RDWR);
  }

  void Close() override {
    if (!session_) return;
    if (session_->active) session_->active->Abandon();
    session_->watchdog.reset();
    session_->handle.reset();
    session_.reset();
  }

  void Begin() override { Exec("START TRANSACTION"); }

  void Commit() override {
    Session& s = Ready();
    if (mysql_commit(s.Conn()) != 0) FailMysql(s.Conn());
  }

  void Rollback() override {
    // A lost connection has nothing left to roll back: the server ended
    // the transaction when the connection went.
    if (!session_ || !session_->handle) return;
    if (session_->active) session_->active->Abandon();
    MYSQL* m = session_->Conn();
    // A cancel that reached the connection just after its statement ended
    // may interrupt the next one: then the rollback is sent once more.
    if (mysql_rollback(m) == 0) return;
    if (mysql_errno(m) == ER_QUERY_INTERRUPTED && mysql_rollback(m) == 0) return;
    if (!ConnectionLost(mysql_errno(m))) FailMysql(m);
  }

  std::string Placeholder(size_t) const override { return "?"; }
  SqlDialect dialect() const override { return SqlDialect::kMysql; }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    Session& s = Ready();
    if (!want_rows && params.empty()) {
      // A script goes whole to the server, which splits it (stored
      // program bodies included).
      s.Arm(command_timeout);
      if (mysql_real_query(s.Conn(), sql.data(), sql.size()) != 0) s.Fail();
      if (!s.FreeResult()) s.Fail();
      s.DrainResults(true);
      if (s.Disarm()) s.FailTimeout();
      return std::make_unique<EmptyCursor>();
    }
    const std::vector<MysqlStatement> statements = SplitMysqlStatements(sql);
    size_t placed = 0;
    for (const MysqlStatement& st : statements) placed += st.param_count;
    if (placed != params.size())
      throw Error(kEDatabaseError,
                  "The SQL text has " + std::to_string(placed) + " parameter places for " +
                      std::to_string(params.size()) +
                      " parameters (a \"?\" outside quotes and comments is a parameter place too)");
    size_t first_param = 0;
    for (size_t k = 0; k < statements.size(); ++k) {
      const MysqlStatement& st = statements[k];
      const bool rows = want_rows && k + 1 == statements.size();
      const std::string text = sql.substr(st.begin, st.end - st.begin);
      std::unique_ptr<Cursor> cursor;
      if (st.param_count > 0)
        cursor = RunPrepared(Prepare(text, st.param_count, command_timeout), params, first_param,
                             st.param_count, rows);
      else if (StmtHandle floats = rows ? PrepareForFloats(text, command_timeout) : nullptr)
        cursor = RunPrepared(std::move(floats), params, first_param, 0, rows);
      else
        cursor = RunText(text, command_timeout, rows);
      first_param += st.param_count;
      if (rows && cursor) return cursor;
    }
    return std::make_unique<EmptyCursor>();
  }

 private:
  // The session, idle.
  Session& Ready() {
    if (!session_ || !session_->handle) throw Error(kEDatabaseError, "The connection is closed");
    if (session_->active) session_->active->Detach();
    return *session_;
  }

  void Exec(const std::string& sql) {
    Session& s = Ready();
    if (mysql_real_query(s.Conn(), sql.data(), sql.size()) != 0) FailMysql(s.Conn());
  }

  // One statement as text; with `rows` the cursor of its first result set
  // (null when it has none), otherwise everything is read and dropped.
  std::unique_ptr<Cursor> RunText(const std::string& sql, int timeout, bool rows) {
    Session& s = *session_;
    MYSQL* m = s.Conn();
    s.Arm(timeout);
    if (mysql_real_query(m, sql.data(), sql.size()) != 0) s.Fail();
    for (;;) {
      if (mysql_field_count(m) > 0) {
        MYSQL_RES* r = mysql_use_result(m);
        if (!r) s.Fail();
        if (rows) return std::make_unique<TextCursor>(session_, r);
        mysql_free_result(r);
        if (mysql_errno(m) != 0) s.Fail();
      }
      const int rc = mysql_next_result(m);
      if (rc > 0) s.Fail();
      if (rc < 0) break;
    }
    if (s.Disarm()) s.FailTimeout();
    return rows ? std::make_unique<EmptyCursor>() : nullptr;
  }

  // A statement prepared with `count` parameters, its time-out armed.
  StmtHandle Prepare(const std::string& sql, size_t count, int timeout) {
    Session& s = *session_;
    StmtHandle stmt(mysql_stmt_init(s.Conn()));
    if (!stmt) FailMysql(s.Conn());
    s.Arm(timeout);
    if (mysql_stmt_prepare(stmt.get(), sql.data(), sql.size()) != 0) FailStmt(s, stmt.get());
    if (mysql_stmt_param_count(stmt.get()) != count)
      throw Error(kEDatabaseError,
                  "The server counts " + std::to_string(mysql_stmt_param_count(stmt.get())) +
                      " parameters in a statement where " + std::to_string(count) + " were placed");
    return stmt;
  }

  // The text protocol carries a FLOAT with six significant digits
  // (16777216 arrives as 1.67772e7); the binary one carries the single
  // itself. A result with a FLOAT column is therefore read as a prepared
  // statement: this prepares the statement (which runs nothing) and returns
  // it when its result has one, with the time-out armed; null otherwise,
  // also when the server cannot prepare it (the text run then reports the
  // statement's own error).
  StmtHandle PrepareForFloats(const std::string& sql, int timeout) {
    Session& s = *session_;
    StmtHandle stmt(mysql_stmt_init(s.Conn()));
    if (!stmt || mysql_stmt_prepare(stmt.get(), sql.data(), sql.size()) != 0 ||
        mysql_stmt_param_count(stmt.get()) != 0)
      return nullptr;
    MYSQL_RES* meta = mysql_stmt_result_metadata(stmt.get());
    if (!meta) return nullptr;
    bool floats = false;
    const MYSQL_FIELD* f = mysql_fetch_fields(meta);
    for (unsigned c = 0, n = mysql_num_fields(meta); c < n; ++c)
      floats = floats || f[c].type == MYSQL_TYPE_FLOAT;
    mysql_free_result(meta);
    if (!floats) return nullptr;
    s.Arm(timeout);
    return stmt;
  }

  std::unique_ptr<Cursor> RunPrepared(StmtHandle stmt, const std::vector<BoundParam>& params,
                                      size_t first, size_t count, bool rows) {
    Session& s = *session_;
    std::vector<MysqlParam> values;
    values.reserve(count);
    std::vector<MYSQL_BIND> binds(count, MYSQL_BIND{});
    std::vector<unsigned long> lengths(count, 0);
    for (size_t k = 0; k < count; ++k) {
      values.push_back(MakeMysqlParam(params[first + k]));
      MysqlParam& v = values.back();
      MYSQL_BIND& b = binds[k];
      b.buffer_type = v.type;
      switch (v.type) {
        case MYSQL_TYPE_NULL:
          break;
        case MYSQL_TYPE_LONGLONG:
          b.buffer = &v.integer;
          break;
        case MYSQL_TYPE_DOUBLE:
          b.buffer = &v.floating;
          break;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_TIME:
        case MYSQL_TYPE_DATETIME:
          b.buffer = &v.time;
          break;
        default:
          lengths[k] = v.text.size();
          b.buffer = v.text.data();
          b.buffer_length = v.text.size();
          b.length = &lengths[k];
          break;
      }
    }
    if (count > 0 && mysql_stmt_bind_param(stmt.get(), binds.data())) FailStmt(s, stmt.get());
    if (mysql_stmt_execute(stmt.get()) != 0) FailStmt(s, stmt.get());
    MYSQL_RES* meta = mysql_stmt_result_metadata(stmt.get());
    if (meta && rows) return std::make_unique<StmtCursor>(session_, std::move(stmt), meta);
    if (meta) {
      mysql_free_result(meta);
      int rc;
      while ((rc = mysql_stmt_fetch(stmt.get())) == 0 || rc == MYSQL_DATA_TRUNCATED) {
      }
      if (rc == 1) FailStmt(s, stmt.get());
    }
    stmt.reset();
    if (s.Disarm()) s.FailTimeout();
    return rows ? std::make_unique<EmptyCursor>() : nullptr;
  }

  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Backend> MakeMysqlBackend() { return std::make_unique<MysqlBackend>(); }

}  // namespace ostrevane
