// The embedded backend on libsqlite3. One connection per worker, used on
// the worker's thread only. Statements are stepped while the consumer
// reads, so a result set is never held in memory here.
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <limits>
#include <thread>

#include "common/error.h"
#include "common/path.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/sqlite_datetime.h"
#include "data/db/sqlite_types.h"

namespace ostrevane {
namespace {

using Clock = std::chrono::steady_clock;

// How many virtual-machine steps pass between two looks at the clock.
constexpr int kProgressSteps = 10000;

// The open database handle and the state its progress and busy handlers
// read. Shared by the backend and its cursors, so a cursor that outlives
// the backend (or its Close) still finalizes its statement safely; the
// handle is closed when the last owner lets go.
class Database {
 public:
  // `busy_seconds`: how long a statement waits for a lock that another
  // program holds; 0 or less: without limit.
  Database(sqlite3* db, int busy_seconds) : db_(db), busy_seconds_(busy_seconds) {
    sqlite3_progress_handler(db_, kProgressSteps, &Database::Progress, this);
    sqlite3_busy_handler(db_, &Database::Busy, this);
  }
  ~Database() { sqlite3_close_v2(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* get() const { return db_; }

  // Arms the command time-out for the work until the matching Disarm. The
  // clock is first read by the progress handler, a few thousand steps into
  // the work, so a quick fetch of one row (armed once per row) costs no
  // clock read at all. The job's own statements are `cancellable`; the
  // program's (begin, commit, rollback) are not, so a canceled job still
  // rolls back.
  void Arm(int seconds, bool cancellable) {
    timeout_seconds_ = seconds;
    timed_out_ = false;
    armed_ = seconds > 0;
    cancellable_ = cancellable;
    deadline_set_ = false;
  }
  void Disarm() { armed_ = cancellable_ = false; }

  // Any thread (Backend::Cancel): ends the running statement and every
  // wait for a lock; a job statement that slipped past the interrupt ends
  // at its progress handler's next look.
  void Cancel() {
    cancelled_.store(true);
    sqlite3_interrupt(db_);
  }
  bool timed_out() const { return timed_out_; }
  int timeout_seconds() const { return timeout_seconds_; }

  // The error of a failed call, as the database words it.
  [[noreturn]] void Fail(int rc) const {
    if (rc == SQLITE_INTERRUPT && timed_out_)
      throw Error(kEDatabaseError,
                  "The SQL statement timed out after " + std::to_string(timeout_seconds_) + " s");
    std::string msg = sqlite3_errmsg(db_);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
      msg += " (another connection holds a lock";
      if (busy_seconds_ > 0)
        msg += "; gave up after waiting " + std::to_string(busy_seconds_) + " s";
      msg += ")";
    }
    throw Error(kEDatabaseError, msg);
  }

 private:
  static int Progress(void* self) {
    auto* db = static_cast<Database*>(self);
    if (db->cancellable_ && db->cancelled_.load(std::memory_order_relaxed)) return 1;
    if (!db->armed_) return 0;
    const Clock::time_point now = Clock::now();
    if (!db->deadline_set_) {
      db->deadline_ = now + std::chrono::seconds(db->timeout_seconds_);
      db->deadline_set_ = true;
      return 0;
    }
    if (now < db->deadline_) return 0;
    db->timed_out_ = true;
    return 1;  // interrupts the running statement
  }

  // Waits for a lock that another program holds: short naps first (locks
  // are mostly held briefly), then a tenth of a second at a time, so that
  // a cancel is seen soon. Returns 0 to give up: the statement then fails
  // with SQLITE_BUSY.
  static int Busy(void* self, int tries) {
    auto* db = static_cast<Database*>(self);
    if (db->cancelled_.load()) return 0;
    const Clock::time_point now = Clock::now();
    if (tries == 0) db->busy_since_ = now;
    const auto waited = now - db->busy_since_;
    if (db->busy_seconds_ > 0 && waited >= std::chrono::seconds(db->busy_seconds_)) return 0;
    static constexpr int kNapsMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50};
    auto nap = std::chrono::milliseconds(tries < int(std::size(kNapsMs)) ? kNapsMs[tries] : 100);
    if (db->busy_seconds_ > 0)
      nap = std::min(nap, std::chrono::ceil<std::chrono::milliseconds>(
                              std::chrono::seconds(db->busy_seconds_) - waited));
    std::this_thread::sleep_for(nap);
    return 1;
  }

  sqlite3* db_;
  const int busy_seconds_;
  Clock::time_point busy_since_;
  std::atomic<bool> cancelled_{false};
  bool cancellable_ = false;
  bool armed_ = false;
  bool timed_out_ = false;
  int timeout_seconds_ = 0;
  bool deadline_set_ = false;
  Clock::time_point deadline_;
};

// Arms the command time-out for one scope.
class TimeoutScope {
 public:
  TimeoutScope(Database& db, int seconds, bool cancellable) : db_(db) {
    db_.Arm(seconds, cancellable);
  }
  ~TimeoutScope() { db_.Disarm(); }
  TimeoutScope(const TimeoutScope&) = delete;
  TimeoutScope& operator=(const TimeoutScope&) = delete;

 private:
  Database& db_;
};

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// The start of the next statement: after blanks, ";" and comments. SQLite
// keeps a copy of each statement's text, leading comments included, so a
// statement is prepared from here. A NUL character is no blank: it stays
// for the caller to refuse.
const char* SkipToStatement(const char* p, const char* end) {
  while (p < end) {
    const char c = *p;
    if (c == ';' || c == ' ' || (c >= '\t' && c <= '\r')) {
      ++p;
    } else if (c == '-' && p + 1 < end && p[1] == '-') {
      while (p < end && *p != '\n') ++p;
    } else if (c == '/' && p + 1 < end && p[1] == '*') {
      p += 2;
      while (p + 1 < end && !(p[0] == '*' && p[1] == '/')) ++p;
      p = p + 1 < end ? p + 2 : end;
    } else {
      return p;
    }
  }
  return end;
}

// True when the rest of the text holds no further statement: only blanks,
// ";" and comments.
bool OnlyCommentsLeft(const char* p, const char* end) { return SkipToStatement(p, end) == end; }

void BindValue(Database& db, sqlite3_stmt* stmt, int index, const BoundParam& param) {
  const Value* v = param.value;
  int rc = SQLITE_OK;
  if (!v || v->IsNull()) {
    rc = sqlite3_bind_null(stmt, index);
  } else {
    switch (v->kind) {
      case ValueKind::kNull:
        rc = sqlite3_bind_null(stmt, index);
        break;
      case ValueKind::kInt16:
      case ValueKind::kInt32:
      case ValueKind::kInt64:
      case ValueKind::kBoolean:
        rc = sqlite3_bind_int64(stmt, index, v->i);
        break;
      case ValueKind::kSingle:
      case ValueKind::kDouble:
        rc = sqlite3_bind_double(stmt, index, v->d);
        break;
      case ValueKind::kCurrency:
        if (v->i % 10000 == 0)
          rc = sqlite3_bind_int64(stmt, index, v->i / 10000);
        else
          rc = sqlite3_bind_double(stmt, index, double(v->i) / 10000.0);
        break;
      case ValueKind::kDateTime: {
        const std::string iso = sqlite::DateTimeToIso(v->d, param.type);
        rc =
            sqlite3_bind_text64(stmt, index, iso.data(), iso.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      }
      case ValueKind::kText:
      case ValueKind::kDecimal:  // the column's affinity turns digits into a number
      case ValueKind::kGuid:
        rc = sqlite3_bind_text64(stmt, index, v->s.data(), v->s.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
        break;
      case ValueKind::kBytes:
        rc = sqlite3_bind_blob64(stmt, index, v->s.data(), v->s.size(), SQLITE_TRANSIENT);
        break;
    }
  }
  if (rc != SQLITE_OK) db.Fail(rc);
}

// Binds the statement's parameters: the interface writes them "?N", N
// counting from 1 across the whole text, so a statement of a batch sees
// unnamed gaps below its own numbers (left NULL). A named marker of any
// other form was not recognised as a placeholder (a quote left open
// earlier in the text hides placeholders) and is refused rather than
// silently left NULL.
void BindAll(Database& db, sqlite3_stmt* stmt, const std::vector<BoundParam>& params) {
  const int count = sqlite3_bind_parameter_count(stmt);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt, i);
    if (!name) continue;
    size_t n = 0;
    bool ours = name[0] == '?' && name[1] != '\0';
    for (const char* p = name + 1; ours && *p; ++p) {
      if (*p < '0' || *p > '9' || n > params.size())
        ours = false;
      else
        n = n * 10 + size_t(*p - '0');
    }
    if (!ours || n < 1 || n > params.size())
      throw Error(kEDatabaseError, std::string("The SQL text holds the parameter marker \"") +
                                       name +
                                       "\", which is not one of its :name placeholders "
                                       "(is a quote left open before it?)");
    BindValue(db, stmt, i, params[n - 1]);
  }
}

// Reads one column of the current row.
sqlite::RawValue RawColumn(sqlite3_stmt* stmt, int col) {
  sqlite::RawValue raw;
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER:
      raw.storage = sqlite::Storage::kInteger;
      raw.i = sqlite3_column_int64(stmt, col);
      break;
    case SQLITE_FLOAT:
      raw.storage = sqlite::Storage::kFloat;
      raw.d = sqlite3_column_double(stmt, col);
      break;
    case SQLITE_TEXT: {
      raw.storage = sqlite::Storage::kText;
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
      raw.bytes = std::string_view(text ? text : "", size_t(sqlite3_column_bytes(stmt, col)));
      break;
    }
    case SQLITE_BLOB: {
      raw.storage = sqlite::Storage::kBlob;
      const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt, col));
      raw.bytes = std::string_view(blob ? blob : "", size_t(sqlite3_column_bytes(stmt, col)));
      break;
    }
    default:
      break;
  }
  return raw;
}

// The result of one statement. Created on its first row (already stepped,
// so columns without a declared type can take their type from it); every
// Fetch after that steps once, under its own command time-out.
class SqliteCursor : public Cursor {
 public:
  SqliteCursor() = default;

  SqliteCursor(std::shared_ptr<Database> db, Statement stmt, int timeout)
      : db_(std::move(db)), stmt_(std::move(stmt)), timeout_(timeout) {
    sqlite3_stmt* s = stmt_.get();
    const int n = sqlite3_column_count(s);
    std::vector<std::string> names;
    for (int c = 0; c < n; ++c) {
      rules_.push_back(sqlite::RuleForDeclaredType(sqlite3_column_decltype(s, c)));
      const char* name = sqlite3_column_name(s, c);
      names.emplace_back(name ? name : "");
      if (!IsValidUtf8(names.back())) names.back() = SanitizeUtf8(names.back());
    }
    // The first step runs under the caller's time-out scope; at the end of
    // the data it finalizes the statement.
    pending_ = Step();
    for (int c = 0; c < n; ++c) {
      sqlite::SettleRule(rules_[size_t(c)],
                         pending_ ? RawColumn(s, c).storage : sqlite::Storage::kNull);
      defs_.push_back(
          {std::move(names[size_t(c)]), rules_[size_t(c)].type, rules_[size_t(c)].size});
    }
  }

  const std::vector<FieldDef>& fields() const override { return defs_; }

  bool Fetch(std::vector<Value>& row) override {
    if (buffered_) {
      if (next_ >= rows_.size()) return false;
      row = std::move(rows_[next_++]);
      return true;
    }
    if (!pending_) {
      if (!stmt_) return false;
      TimeoutScope scope(*db_, timeout_, /*cancellable=*/true);
      if (!Step()) return false;
    }
    pending_ = false;
    ReadRow(row);
    return true;
  }

  // Reads every remaining row now: the statement is followed by others
  // that must run before the caller reads.
  // Runs under the caller's time-out scope.
  void BufferAll() {
    std::vector<Value> row;
    while (stmt_ && (pending_ || Step())) {
      pending_ = false;
      ReadRow(row);
      rows_.push_back(row);
    }
    buffered_ = true;
    next_ = 0;
  }

 private:
  // Steps the statement; false at its end, when it is finalized so that
  // its locks are released at once.
  bool Step() {
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return true;
    stmt_.reset();
    if (rc == SQLITE_DONE) return false;
    db_->Fail(rc);
  }

  void ReadRow(std::vector<Value>& row) {
    row.resize(rules_.size());
    for (size_t c = 0; c < rules_.size(); ++c)
      sqlite::ConvertValue(rules_[c], RawColumn(stmt_.get(), int(c)), row[c]);
  }

  std::shared_ptr<Database> db_;
  Statement stmt_;
  int timeout_ = 0;
  std::vector<FieldDef> defs_;
  std::vector<sqlite::ColumnRule> rules_;
  bool pending_ = false;  // the first row is stepped but not yet fetched
  bool buffered_ = false;
  std::vector<std::vector<Value>> rows_;
  size_t next_ = 0;
};

class SqliteBackend : public Backend {
 public:
  ~SqliteBackend() override = default;  // the Database closes when its last owner goes

  // A local file: there is nothing to connect to, so the connection
  // time-out has no use here.
  void Open(const ConnectionString& cs, int /*connect_timeout*/) override {
    Close();
    std::string file = cs.Get("Data Source");
    if (file.empty())
      throw Error(kEDatabaseError,
                  "The connection string names no Data Source (the SQLite database file)");
    if (file != ":memory:") {
      file = NormalizePath(file);
      // A plain file name, never a URI, and never created: a job must not
      // run against a new empty database because of a misspelt name.
      if (file.compare(0, 5, "file:") == 0) file = "./" + file;
      if (!FileExists(file))
        throw Error(kEDatabaseError, "The SQLite database file \"" + file + "\" does not exist");
    }
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string msg = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
      sqlite3_close_v2(raw);
      throw Error(kEDatabaseError, "Cannot open the SQLite database \"" + file + "\": " + msg);
    }
    // Another program's lock (another process of a -part run, say) is
    // waited for as long as a statement may run: the command time-out,
    // which 0 or less makes unlimited, as everywhere else in the
    // data-access layer.
    const auto db = std::make_shared<Database>(raw, command_timeout_);
    // Reading the schema proves that the file is a database.
    Run(db, "SELECT count(*) FROM sqlite_schema", {}, 0, false, false);
    file_key_.clear();
    struct stat st {};
    if (file != ":memory:" && ::stat(file.c_str(), &st) == 0)
      file_key_ = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    // The journal mode is kept in the file: "wal" when it was set once.
    std::vector<Value> row;
    write_ahead_log_ =
        Run(db, "PRAGMA journal_mode", {}, 0, true, false)->Fetch(row) && IEquals(row[0].s, "wal");
    db_ = db;
  }

  void set_command_timeout(int seconds) override { command_timeout_ = seconds; }

  void Cancel() override {
    if (db_) db_->Cancel();
  }

  void Close() override {
    db_.reset();
    file_key_.clear();
    write_ahead_log_ = false;
  }

  // A writing transaction takes the write lock at its start. With a
  // deferred BEGIN, two transactions that both read and then write the same
  // file deadlock, and SQLite then fails one of them at once instead of
  // waiting. The connections of one run have taken their turns on the file
  // before this (Connection::BeginTransaction), so the busy time-out is only
  // spent waiting for other programs.
  void Begin() override { Exec("BEGIN IMMEDIATE"); }
  // A reading transaction takes a shared lock at its first read and never
  // asks for more, so readers never wait for each other.
  void BeginReading() override { Exec("BEGIN"); }

  // Prepares every statement of the text without running it. A text that
  // does not prepare as it stands (it uses tables that it creates itself,
  // or holds an error that its run will report) counts as writing.
  bool OnlyReads(const std::string& sql) override {
    sqlite3* handle = db()->get();
    const char* const end = sql.data() + sql.size();
    for (const char* p = SkipToStatement(sql.data(), end); p < end; p = SkipToStatement(p, end)) {
      sqlite3_stmt* raw = nullptr;
      const char* tail = nullptr;
      const int rc = sqlite3_prepare_v2(handle, p, int(std::min<size_t>(size_t(end - p), INT_MAX)),
                                        &raw, &tail);
      Statement stmt(raw);
      if (rc != SQLITE_OK || !tail || tail == p) return false;
      p = tail;
      if (stmt && !sqlite3_stmt_readonly(stmt.get())) return false;
    }
    return true;
  }

  // In the rollback-journal modes a reader's shared lock keeps a writer
  // from committing, so readers take turns with writers. With a
  // write-ahead log readers see their snapshot and never hold up a writer.
  std::string FileKey(TransactionAccess access) const override {
    if (access == TransactionAccess::kRead && write_ahead_log_) return "";
    return file_key_;
  }

  void Commit() override {
    // When the SQL itself ended the transaction there is nothing to commit;
    // a transaction that the database rolled back after an error has
    // already failed the statement that caused it.
    if (sqlite3_get_autocommit(db()->get())) return;
    Exec("COMMIT");
  }

  void Rollback() override {
    // An interrupted or failed statement may have rolled back already.
    if (sqlite3_get_autocommit(db()->get())) return;
    Exec("ROLLBACK");
  }

  std::string Placeholder(size_t index) const override {
    return Concat({"?", std::to_string(index + 1)});
  }
  SqlDialect dialect() const override { return SqlDialect::kSqlite; }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    return Run(db(), sql, params, command_timeout, want_rows, /*cancellable=*/true);
  }

 private:
  const std::shared_ptr<Database>& db() const {
    if (!db_) throw Error(kEDatabaseError, "The SQLite connection is not open");
    return db_;
  }

  void Exec(const char* sql) { Run(db(), sql, {}, 0, false, false); }

  // Runs every statement of the text in order. With want_rows the result
  // is that of the last statement that has result columns: streamed when
  // it is the last statement of the text, read into memory first when
  // statements without results follow it.
  static std::unique_ptr<Cursor> Run(const std::shared_ptr<Database>& shared,
                                     const std::string& sql, const std::vector<BoundParam>& params,
                                     int timeout, bool want_rows, bool cancellable) {
    Database& database = *shared;
    TimeoutScope scope(database, timeout, cancellable);
    const char* const end = sql.data() + sql.size();
    std::unique_ptr<SqliteCursor> result;
    for (const char* p = SkipToStatement(sql.data(), end); p < end; p = SkipToStatement(p, end)) {
      sqlite3_stmt* raw = nullptr;
      const char* tail = nullptr;
      const int rc = sqlite3_prepare_v2(
          database.get(), p, int(std::min<size_t>(size_t(end - p), INT_MAX)), &raw, &tail);
      Statement stmt(raw);
      if (rc != SQLITE_OK) database.Fail(rc);
      if (tail == p && p < end)  // SQLite ends a text at a NUL character
        throw Error(kEDatabaseError,
                    "The SQL text holds a NUL character at byte " + std::to_string(p - sql.data()));
      p = tail ? tail : end;
      if (!stmt) continue;  // blanks or a comment
      BindAll(database, stmt.get(), params);
      if (want_rows && sqlite3_column_count(stmt.get()) > 0) {
        auto cursor = std::make_unique<SqliteCursor>(shared, std::move(stmt), timeout);
        if (!OnlyCommentsLeft(p, end)) cursor->BufferAll();
        result = std::move(cursor);
      } else {
        for (int step; (step = sqlite3_step(stmt.get())) != SQLITE_DONE;)
          if (step != SQLITE_ROW) database.Fail(step);
      }
    }
    if (!result) return std::make_unique<SqliteCursor>();
    return result;
  }

  std::shared_ptr<Database> db_;
  std::string file_key_;  // device and inode of the open file; "" in memory
  bool write_ahead_log_ = false;
  int command_timeout_ = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeSqliteBackend() { return std::make_unique<SqliteBackend>(); }

}  // namespace ostrevane
