#include "data/dataset.h"

#include <unordered_map>

#include "common/case_fold.h"
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
  // The connection string is kept (and shown) as written; the values the
  // environment gives it are put in only here.
  cs.ExpandEnvironmentValues();
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

SqlDialect Connection::dialect() const {
  return backend_ ? backend_->dialect() : SqlDialect::kGeneric;
}

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

// ---- Query ----------------------------------------------------------------

Query::Query(Connection& connection) : connection_(connection) {}

Query::~Query() { Close(); }

void Query::SetSql(std::string_view text) {
  Close();
  if (!text.empty() && text.data() >= sql_.data() && text.data() < sql_.data() + sql_.size())
    return SetSql(std::string(text));  // its own text, rewritten below
  sql_.clear();
  sql_.reserve(text.size());
  for (size_t pos = 0;;) {
    const size_t cr = text.find('\r', pos);
    sql_.append(text.substr(pos, cr == std::string_view::npos ? cr : cr - pos));
    if (cr == std::string_view::npos) break;
    sql_ += '\n';
    pos = cr + 1;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  if (!sql_.empty() && sql_.back() == '\n') sql_.pop_back();
  params_dirty_ = true;
}

void Query::ParseParams() {
  const SqlDialect dialect = connection_.dialect();
  if (!params_dirty_ && dialect == parsed_dialect_) return;
  SqlScan scan = ScanSql(sql_, dialect);
  places_ = std::move(scan.placeholders);
  macro_lines_ = std::move(scan.macro_lines);
  params_.items().clear();
  place_param_.clear();
  place_param_.reserve(places_.size());
  // Parameter index by folded name: a text with many placeholders is
  // parsed in linear time.
  std::unordered_map<std::string, uint32_t> index_of;
  for (const Placeholder& p : places_) {
    auto [it, added] = index_of.try_emplace(FoldCase(p.name), uint32_t(params_.size()));
    if (added) params_.items().push_back({std::string(p.name), {}, {}});
    place_param_.push_back(it->second);
  }
  params_dirty_ = false;
  parsed_dialect_ = dialect;
}

Params& Query::params() {
  ParseParams();
  return params_;
}

const std::vector<Placeholder>& Query::placeholders() {
  ParseParams();
  return places_;
}

const std::string& Query::PositionalSql(std::vector<BoundParam>& bound, std::string& buffer) {
  ParseParams();
  bound.clear();
  if (places_.empty() && macro_lines_.empty()) return sql_;
  Backend& backend = connection_.backend();
  buffer.clear();
  buffer.reserve(sql_.size() + places_.size() * 4 + macro_lines_.size());
  bound.reserve(places_.size());
  size_t pos = 0;
  size_t line = 0;  // the next of macro_lines_; none lies inside a placeholder
  auto copy_to = [&](size_t end) {
    for (; line < macro_lines_.size() && macro_lines_[line] < end; ++line) {
      buffer.append(sql_, pos, macro_lines_[line] + 2 - pos);  // up to "--"
      buffer += ' ';
      pos = macro_lines_[line] + 2;
    }
    buffer.append(sql_, pos, end - pos);
    pos = end;
  };
  for (size_t k = 0; k < places_.size(); ++k) {
    copy_to(places_[k].pos);
    buffer += backend.Placeholder(k);
    pos = places_[k].pos + places_[k].length();
    Param& param = params_[place_param_[k]];
    bound.push_back({param.type, &param.value});
  }
  copy_to(sql_.size());
  return buffer;
}

void Query::Open() {
  Close();
  connection_.ThrowIfStopped();
  std::vector<BoundParam> bound;
  std::string buffer;
  const std::string& sql = PositionalSql(bound, buffer);
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
  if (meter_) meter_->AddRows(1);
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
  std::string buffer;
  const std::string& sql = PositionalSql(bound, buffer);
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
