#include "data/dataset.h"

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {

const Value& Field::value() const { return query_->current_row()[index_]; }

Param* Params::Find(std::string_view name) {
  for (Param& p : items_)
    if (IEquals(p.name, name)) return &p;
  return nullptr;
}

// ---- Connection -----------------------------------------------------------

Connection::Connection(BackendFactory factory) : factory_(std::move(factory)) {}

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws; the backend is gone either way.
  }
}

void Connection::Open() {
  Close();
  ThrowIfStopped();
  ConnectionString cs(connection_string_);
  std::unique_ptr<Backend> backend = factory_(cs);
  backend->set_command_timeout(command_timeout_);
  backend->Open(cs, connection_timeout_);
  std::lock_guard lock(cancel_mu_);
  backend_ = std::move(backend);
}

void Connection::Close() {
  if (!backend_) return;
  std::unique_ptr<Backend> backend;
  {
    std::lock_guard lock(cancel_mu_);
    backend = std::move(backend_);
  }
  // Given back after the rollback, however that ends.
  FileTurn turn = std::move(turn_);
  if (in_transaction_) {
    in_transaction_ = false;
    backend->Rollback();
  }
  backend->Close();
}

void Connection::Cancel() {
  {
    std::lock_guard lock(cancel_mu_);
    if (backend_) backend_->Cancel();
  }
  if (turns_) turns_->WakeWaiters();
}

void Connection::Sever() {
  std::lock_guard lock(cancel_mu_);
  if (backend_) backend_->Sever();
}

void Connection::ThrowStopped() { throw Exception("The job was stopped"); }

Backend& Connection::backend() {
  if (!backend_) throw Error(kEDatabaseError, "Connection is not open");
  return *backend_;
}

bool Connection::OnlyReads(const std::string& sql) { return backend().OnlyReads(sql); }

void Connection::BeginTransaction(TransactionAccess access) {
  Backend& b = backend();
  FileTurn turn;  // given back at once when the begin fails
  if (turns_) {
    const std::string key = b.FileKey(access);
    if (!key.empty())
      turn = turns_->Wait(
          key, access == TransactionAccess::kRead ? TurnKind::kShared : TurnKind::kExclusive,
          stop_);
  }
  ThrowIfStopped();  // the turn may have come after the job was stopped
  if (access == TransactionAccess::kRead)
    b.BeginReading();
  else
    b.Begin();
  turn_ = std::move(turn);
  in_transaction_ = true;
}

void Connection::Commit() {
  backend().Commit();
  in_transaction_ = false;
  turn_.Release();
}

void Connection::Rollback() {
  FileTurn turn = std::move(turn_);  // given back after the rollback, however that ends
  if (!in_transaction_) return;
  in_transaction_ = false;
  backend().Rollback();
}

// ---- Placeholders ---------------------------------------------------------

std::vector<Placeholder> FindPlaceholders(std::string_view sql) {
  std::vector<Placeholder> out;
  // A name is the longest run of letters, digits and "_", as SQL itself
  // reads identifiers; bytes of non-ASCII (UTF-8) letters count as letters.
  auto in_name = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_';
  };
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      size_t close = sql.find(c, i + 1);
      if (close == std::string_view::npos) break;  // unclosed: the rest is quoted
      i = close;
      continue;
    }
    if (c != ':') continue;
    if (i + 1 < sql.size() && sql[i + 1] == ':') {
      ++i;  // "::" is no placeholder; both colons stay in the text
      continue;
    }
    size_t j = i + 1;
    while (j < sql.size() && in_name(sql[j])) ++j;
    if (j == i + 1) continue;  // a colon with no name after it
    out.push_back({std::string(sql.substr(i + 1, j - i - 1)), i, j - i});
    i = j - 1;
  }
  return out;
}

// ---- Query ----------------------------------------------------------------

Query::Query(Connection& connection) : connection_(connection) {}

Query::~Query() { Close(); }

void Query::SetSql(std::string_view text) {
  Close();
  lines_ = SplitLines(text);
  params_dirty_ = true;
}

void Query::ClearSql() {
  Close();
  lines_.clear();
  params_dirty_ = true;
}

void Query::AddLine(std::string_view line) {
  Close();
  lines_.emplace_back(line);
  params_dirty_ = true;
}

std::string Query::Sql() const {
  std::string s;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) s += '\n';
    s += lines_[i];
  }
  return s;
}

void Query::ParseParams() {
  if (!params_dirty_) return;
  sql_text_ = Sql();
  places_ = FindPlaceholders(sql_text_);
  params_.items().clear();
  for (const Placeholder& p : places_) params_.items().push_back({p.name, {}, {}});
  params_dirty_ = false;
}

Params& Query::params() {
  ParseParams();
  return params_;
}

std::string Query::PositionalSql(std::vector<BoundParam>& bound) {
  ParseParams();
  const std::string& sql = sql_text_;
  const std::vector<Placeholder>& places = places_;
  Backend& backend = connection_.backend();
  std::string out;
  out.reserve(sql.size() + places.size() * 2);
  size_t pos = 0;
  bound.clear();
  for (size_t k = 0; k < places.size(); ++k) {
    out.append(sql, pos, places[k].pos - pos);
    out += backend.Placeholder(k);
    pos = places[k].pos + places[k].length;
    bound.push_back({params_[k].type, &params_[k].value});
  }
  out.append(sql, pos, std::string::npos);
  return out;
}

void Query::Open() {
  Close();
  connection_.ThrowIfStopped();
  std::vector<BoundParam> bound;
  const std::string sql = PositionalSql(bound);
  cursor_ = connection_.backend().Run(sql, bound, command_timeout_, true);
  const std::vector<FieldDef>& defs = cursor_->fields();
  fields_.clear();
  for (size_t i = 0; i < defs.size(); ++i)
    fields_.push_back(std::make_unique<Field>(this, i, defs[i]));
  row_.assign(defs.size(), Value{});
  kept_.Clear();
  pos_ = 0;
  moved_ = false;
  fetched_all_ = false;
  rows_read_ = 0;
  eof_ = !FetchRow();
}

bool Query::FetchRow() {
  if (fetched_all_) return false;
  if (!cursor_->Fetch(row_)) {
    fetched_all_ = true;
    return false;
  }
  ++rows_read_;
  if (rewindable_) {
    kept_.Append(row_);
    pos_ = kept_.size() - 1;
  }
  return true;
}

void Query::Close() {
  cursor_.reset();
  fields_.clear();
  kept_.Clear();
  row_.clear();
  eof_ = true;
}

void Query::Execute() {
  Close();
  connection_.ThrowIfStopped();
  std::vector<BoundParam> bound;
  const std::string sql = PositionalSql(bound);
  connection_.backend().Run(sql, bound, command_timeout_, false);
}

int64_t Query::RecordCount() const {
  if (!cursor_) return 0;
  if (eof_ && !moved_) return 0;
  if (rewindable_ && fetched_all_) return int64_t(kept_.size());
  return -1;
}

void Query::First() {
  if (!cursor_) throw Error(kEDatabaseError, "Query is not open");
  if (!moved_) return;  // still on the first record
  if (!rewindable_)
    throw Error(kEDatabaseError,
                "The result set was opened for one pass and cannot return to its first record");
  pos_ = 0;
  eof_ = kept_.size() == 0;
  if (!eof_) kept_.Read(0, row_);
  moved_ = false;
}

void Query::Next() {
  if (!cursor_ || eof_) return;
  // At every row: a stopped job's writers end here, at the next row.
  connection_.ThrowIfStopped();
  moved_ = true;
  if (rewindable_ && pos_ + 1 < kept_.size()) {
    kept_.Read(++pos_, row_);
    return;
  }
  eof_ = !FetchRow();
}

const std::vector<Value>& Query::current_row() const { return row_; }

Field* Query::FindField(std::string_view name) {
  for (auto& f : fields_)
    if (IEquals(f->name(), name)) return f.get();
  return nullptr;
}

}  // namespace ostrevane
