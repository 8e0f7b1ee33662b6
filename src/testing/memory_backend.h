// A backend for tests that serves result sets from memory and records what
// it was asked to do. Shared state lives in a MemoryDatabase that the test
// keeps, so it can inspect it after the Connection is gone.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/error.h"
#include "data/dataset.h"

namespace ostrevane::testing {

struct MemoryResult {
  std::vector<FieldDef> fields;
  std::vector<std::vector<Value>> rows;
};

// Workers of a pool share one MemoryDatabase: every access locks `mu`.
struct MemoryDatabase {
  std::mutex mu;
  // Served in order by Run(); when exhausted, the last one is served again.
  std::vector<MemoryResult> results;
  size_t next_result = 0;
  // Every statement run, as sent (positional SQL), with its bound values.
  struct Call {
    std::string sql;
    std::vector<Value> params;
    bool want_rows;
  };
  std::vector<Call> calls;
  std::vector<std::string> events;  // "open", "begin", "commit", "rollback", "close"
  std::string fail_on;              // Run() of SQL containing this text fails
};

class MemoryCursor : public Cursor {
 public:
  explicit MemoryCursor(MemoryResult r) : r_(std::move(r)) {}
  const std::vector<FieldDef>& fields() const override { return r_.fields; }
  bool Fetch(std::vector<Value>& row) override {
    if (next_ >= r_.rows.size()) return false;
    row = r_.rows[next_++];
    return true;
  }

 private:
  MemoryResult r_;
  size_t next_ = 0;
};

class MemoryBackend : public Backend {
 public:
  explicit MemoryBackend(std::shared_ptr<MemoryDatabase> db) : db_(std::move(db)) {}
  void Open(const ConnectionString&, int) override { Event("open"); }
  void Close() override { Event("close"); }
  void Begin() override { Event("begin"); }
  void Commit() override { Event("commit"); }
  void Rollback() override { Event("rollback"); }
  std::string Placeholder(size_t index) const override { return "?" + std::to_string(index + 1); }
  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params, int,
                              bool want_rows) override {
    std::lock_guard<std::mutex> lock(db_->mu);
    MemoryDatabase::Call call{sql, {}, want_rows};
    for (const BoundParam& p : params) call.params.push_back(p.value ? *p.value : Value{});
    db_->calls.push_back(std::move(call));
    if (!db_->fail_on.empty() && sql.find(db_->fail_on) != std::string::npos)
      throw Error(kEDatabaseError, "memory backend: failing on request");
    if (!want_rows || db_->results.empty()) return std::make_unique<MemoryCursor>(MemoryResult{});
    size_t i = db_->next_result < db_->results.size() ? db_->next_result++ : db_->results.size() - 1;
    return std::make_unique<MemoryCursor>(db_->results[i]);
  }

 private:
  void Event(const char* e) {
    std::lock_guard<std::mutex> lock(db_->mu);
    db_->events.push_back(e);
  }
  std::shared_ptr<MemoryDatabase> db_;
};

inline BackendFactory MemoryFactory(std::shared_ptr<MemoryDatabase> db) {
  return [db](const ConnectionString&) { return std::make_unique<MemoryBackend>(db); };
}

}  // namespace ostrevane::testing
