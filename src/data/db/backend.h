// The boundary between the data-access interface and one database client
// library. Placeholders are parsed once by the interface (Query); a backend
// receives SQL whose parameters are already positional, written with the
// backend's own Placeholder() text, and the values in that order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/connection_string.h"
#include "data/placeholders.h"
#include "data/value.h"

namespace ostrevane {

// A result column. Columns that are no fields (row identifiers, chapters,
// unknown types) are never reported.
struct FieldDef {
  std::string name;
  FieldType type = FieldType::kUnknown;
  int64_t size = 0;  // declared size; 0 for blobs in query results
};

// A bound parameter as the backend receives it. `type` is kUnknown unless
// the caller set it (post-record binding copies the field's type).
struct BoundParam {
  FieldType type = FieldType::kUnknown;
  const Value* value = nullptr;  // null pointer or null value: SQL NULL
};

// One executing statement and its forward-only result stream. Owned by the
// Query that ran it; lives on the worker's thread.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<FieldDef>& fields() const = 0;
  // Reads the next row into `row` (resized to fields().size(); its Values
  // are reused). Returns false at the end of the data and then leaves
  // `row` as it was, so the last record stays current.
  virtual bool Fetch(std::vector<Value>& row) = 0;
};

// The cursor of a statement that returns no rows.
class EmptyCursor : public Cursor {
 public:
  const std::vector<FieldDef>& fields() const override { return fields_; }
  bool Fetch(std::vector<Value>&) override { return false; }

 private:
  std::vector<FieldDef> fields_;
};

enum class TransactionAccess { kRead, kWrite };

class Backend {
 public:
  virtual ~Backend() = default;
  // connect_timeout in seconds.
  virtual void Open(const ConnectionString& cs, int connect_timeout) = 0;
  // The command time-out of the connection, given before Open: SQLite
  // waits so long (0: without limit) for a lock that another program
  // holds on its file, whichever statement asks for it.
  virtual void set_command_timeout(int seconds) { (void)seconds; }
  virtual void Close() = 0;
  // Begins a transaction that may write.
  virtual void Begin() = 0;
  // Begins a transaction that will only read. Backends whose readers hold
  // no locks that matter begin it like any other.
  virtual void BeginReading() { Begin(); }
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // The SQL text of the n-th parameter (0-based): "?1", "$1", "?".
  virtual std::string Placeholder(size_t index) const = 0;
  // The quoting and comment rules by which ":name" placeholders are found.
  virtual SqlDialect dialect() const { return SqlDialect::kGeneric; }
  // Runs the statement(s). With want_rows the result set of the (last)
  // statement is returned for reading; otherwise everything is executed to
  // its end and the returned cursor is empty. command_timeout in seconds,
  // 0 for none. Failures raise Error(kEDatabaseError) with the database's
  // own message.
  virtual std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                                      int command_timeout, bool want_rows) = 0;
  // Whether every statement of `sql` (":name" placeholders allowed) only
  // reads. False when the backend cannot tell, which is always safe.
  virtual bool OnlyReads(const std::string& sql) {
    (void)sql;
    return false;
  }
  // Asks the running statement to end, from another thread (the job's
  // watch) while the connection's own thread may be inside any other call
  // of this backend, but never in Open, Close or the destructor. Returns at
  // once: whatever has to wait for the server runs on a thread of the
  // backend's own. The interrupted call then fails with the database's
  // error. A statement that starts afterwards is not affected: the caller
  // starts none once it asked for the cancel.
  virtual void Cancel() {}
  // Breaks the connection's link to its server off, from another thread
  // as Cancel, when a cancel did not free the connection's thread soon:
  // a call blocked on a server that stopped answering then fails at once.
  // The server rolls back what the connection left open. Backends without
  // a network link of their own do nothing.
  virtual void Sever() {}
  // For a database in a local file that the connections of a run must take
  // turns on (see data/file_turns.h): the file's identity, equal for every
  // path that reaches the same file. "" when a transaction of that access
  // needs no turn: always for server databases, which order their own
  // transactions. Only while open.
  virtual std::string FileKey(TransactionAccess access) const {
    (void)access;
    return "";
  }
};

// Picks the backend by the Provider key ("SQLite", "PostgreSQL", "MySQL" or
// "MariaDB", "ODBC" or "MSDASQL"); an unknown or missing provider raises a
// clear error.
std::unique_ptr<Backend> MakeBackend(const ConnectionString& cs);
std::unique_ptr<Backend> MakeSqliteBackend();
std::unique_ptr<Backend> MakePostgresBackend();
std::unique_ptr<Backend> MakeMysqlBackend();
std::unique_ptr<Backend> MakeOdbcBackend();

}  // namespace ostrevane
