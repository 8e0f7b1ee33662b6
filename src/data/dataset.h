// The data-access interface the jobs use: a connection, queries on it, the
// fields of an open result set and the parameters of a statement. One
// worker owns its connection and queries and uses them on its own thread;
// only Connection::Cancel and Connection::Sever come from another one.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/progress_meter.h"
#include "common/stop_flag.h"
#include "data/connection_string.h"
#include "data/db/backend.h"
#include "data/file_turns.h"
#include "data/placeholders.h"
#include "data/row_store.h"
#include "data/value.h"

namespace ostrevane {

class Query;

// A field of the open result set; its value is the current record's.
class Field {
 public:
  Field(const Query* query, size_t index, FieldDef def)
      : query_(query), index_(index), def_(std::move(def)), display_label(def_.name) {}

  const std::string& name() const { return def_.name; }
  FieldType type() const { return def_.type; }
  int64_t size() const { return def_.size; }
  size_t index() const { return index_; }
  const Value& value() const;
  bool IsNull() const { return value().IsNull(); }

 private:
  const Query* query_;
  size_t index_;
  FieldDef def_;

 public:
  std::string display_label;
};

// A statement parameter: one per name of the statement's ":name"
// placeholders (letter case aside), its value bound wherever the name occurs.
struct Param {
  std::string name;
  FieldType type = FieldType::kUnknown;
  Value value;  // null until set
};

class Params {
 public:
  // The parameter of that name (see common/case_fold.h); null when absent.
  Param* Find(std::string_view name);
  size_t size() const { return items_.size(); }
  Param& operator[](size_t i) { return items_[i]; }
  const Param& operator[](size_t i) const { return items_[i]; }
  std::vector<Param>& items() { return items_; }

 private:
  std::vector<Param> items_;
};

// Makes the backend for a connection string; tests pass fakes.
using BackendFactory = std::function<std::unique_ptr<Backend>(const ConnectionString&)>;

// A connection and its one transaction. On a database file that the
// connections of a run share, a transaction first waits for its turn on the
// file (set_file_turns) and holds it until it commits or rolls back.
//
// A job that must end early (its stop flag is raised) is ended through
// Cancel(), which interrupts the running statement or the wait for a turn,
// and, should that not free the connection's thread, Sever(). Once the flag
// is up no statement starts and reading a result fails at its next row.
class Connection {
 public:
  explicit Connection(BackendFactory factory = MakeBackend);
  ~Connection();  // rolls back an open transaction and closes; never throws
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void set_connection_string(std::string s) { connection_string_ = std::move(s); }
  const std::string& connection_string() const { return connection_string_; }
  void set_connection_timeout(int seconds) { connection_timeout_ = seconds; }
  void set_command_timeout(int seconds) { command_timeout_ = seconds; }
  int command_timeout() const { return command_timeout_; }
  // The turns of the run this connection works for; null (the default):
  // transactions take no turns. `turns` must outlive the connection.
  void set_file_turns(FileTurns* turns) { turns_ = turns; }
  // The flag of the job this connection works for; null (the default): it
  // is never stopped. `flag` must outlive the connection.
  void set_stop_flag(const StopFlag* flag) { stop_ = flag; }
  const StopFlag* stop_flag() const { return stop_; }
  // Raises the error of a stopped job when the flag is up.
  void ThrowIfStopped() const {
    if (stop_ && stop_->raised()) ThrowStopped();
  }

  // Any thread: interrupts the running statement (Backend::Cancel) and a
  // wait for a turn on a file. Call it after raising the stop flag.
  void Cancel();
  // Any thread: breaks the link to the server off (Backend::Sever).
  void Sever();

  // Opens the backend that the connection string names, with the values
  // of its "${...}" references put in (ConnectionString::ExpandEnvironmentValues).
  void Open();
  void Close();
  bool connected() const { return backend_ != nullptr; }
  // The quoting rules of the database's SQL; kGeneric while not connected.
  SqlDialect dialect() const;
  // Whether every statement of `sql` only reads (false when unsure). Only
  // while connected.
  bool OnlyReads(const std::string& sql);
  // With kRead the transaction must not write: it shares its turn on the
  // file with other readers. Waits without a time limit for the turn.
  void BeginTransaction(TransactionAccess access = TransactionAccess::kWrite);
  void Commit();
  void Rollback();
  bool in_transaction() const { return in_transaction_; }

  Backend& backend();  // only while connected

 private:
  [[noreturn]] static void ThrowStopped();

  BackendFactory factory_;
  std::string connection_string_;
  int connection_timeout_ = 15;
  int command_timeout_ = 30;
  // Written on the connection's thread under cancel_mu_, so Cancel and
  // Sever never meet a backend that is being closed.
  std::unique_ptr<Backend> backend_;
  std::mutex cancel_mu_;
  bool in_transaction_ = false;
  FileTurns* turns_ = nullptr;
  FileTurn turn_;  // held from the begin to the end of a transaction
  const StopFlag* stop_ = nullptr;
};

// A statement with its SQL text, its parameters and, once open, its result
// set. Results are read forward; set_rewindable(true) before
// Open() keeps the rows read so that First() can start a second pass.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // SQL text, its line breaks (CR LF, CR or LF) kept as LF and a last one
  // dropped. Every change closes the query and rebuilds the parameters from
  // the placeholders (found with the connection's dialect, on the next use).
  void SetSql(std::string_view text);
  void ClearSql() { SetSql({}); }
  const std::string& sql() const { return sql_; }

  Params& params();
  // The placeholders of the text, in order (valid until the text changes).
  const std::vector<Placeholder>& placeholders();
  void set_command_timeout(int seconds) { command_timeout_ = seconds; }
  void set_rewindable(bool on) { rewindable_ = on; }
  bool rewindable() const { return rewindable_; }
  // Counts every record fetched from the database on `meter` too (null:
  // nowhere); it must outlive the query or be replaced first.
  void set_meter(ProgressMeter* meter) { meter_ = meter; }

  // Executes and opens the result set, positioned on the first record.
  void Open();
  void Close();
  bool active() const { return cursor_ != nullptr; }
  // Executes without a result set.
  void Execute();

  // 0 for an empty result; the number of records once all were read in a
  // rewindable query; -1 while it is not known.
  int64_t RecordCount() const;
  void First();
  void Next();
  bool Eof() const { return eof_; }
  // The records fetched from the database since Open(); a second pass over
  // kept records adds nothing.
  int64_t rows_read() const { return rows_read_; }

  size_t FieldCount() const { return fields_.size(); }
  Field& FieldAt(size_t i) { return *fields_[i]; }
  const Field& FieldAt(size_t i) const { return *fields_[i]; }
  // The first field of that name, ASCII case folded; null when absent.
  Field* FindField(std::string_view name);

  const std::vector<Value>& current_row() const;
  // The records read so far, in order, when rewindable (else none): what a
  // second pass reads. Valid until the query closes.
  const RowStore& kept_rows() const { return kept_; }

 private:
  void ParseParams();
  // The text to run: the SQL itself when there is nothing to change,
  // otherwise written into `buffer` with the backend's positional
  // parameters and its macro lines as comments.
  const std::string& PositionalSql(std::vector<BoundParam>& bound, std::string& buffer);
  bool FetchRow();

  Connection& connection_;
  std::string sql_;
  Params params_;
  bool params_dirty_ = true;
  SqlDialect parsed_dialect_ = SqlDialect::kGeneric;
  // The placeholders as last parsed and, for each, its parameter's index.
  std::vector<Placeholder> places_;
  std::vector<uint32_t> place_param_;
  std::vector<size_t> macro_lines_;  // sent as comments (see SqlScan)
  int command_timeout_ = 30;
  bool rewindable_ = false;

  std::unique_ptr<Cursor> cursor_;
  std::vector<std::unique_ptr<Field>> fields_;
  std::vector<Value> row_;  // the current record
  RowStore kept_;           // every row read, when rewindable
  size_t pos_ = 0;          // index of the current record in kept_
  bool fetched_all_ = false;
  bool moved_ = false;  // Next() was called since Open()
  bool eof_ = true;
  int64_t rows_read_ = 0;
  ProgressMeter* meter_ = nullptr;
};

}  // namespace ostrevane
