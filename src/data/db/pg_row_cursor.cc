#include "data/db/pg_row_cursor.h"

#include <deque>

#include "common/error.h"
#include "data/db/pg_types.h"

namespace ostrevane {
namespace {

class PgRowCursor : public Cursor, public PgStream {
 public:
  PgRowCursor(std::shared_ptr<PgSession> session, PgDeadline deadline) : session_(std::move(session)) {
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

  ~PgRowCursor() override {
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
  void Abandon() override {
    session_->active = nullptr;
    SendCancelAndSettle(*session_);
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
  void Detach() override {
    session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr)) {
      const bool tuples_end = PQresultStatus(r.get()) == PGRES_TUPLES_OK;
      if (!tuples_end) pending_.push_back(std::move(r));
    }
    finished_ = true;
  }

 private:
  void Describe(const PGresult* r) { DescribePgResult(r, session_->sql_ascii, fields_, columns_); }

  // The row set ended: collect what follows (normally nothing) so that an
  // error after the rows is still reported.
  void Finish() {
    finished_ = true;
    if (session_->active == this) session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr))
      if (IsError(r.get())) pending_.push_back(std::move(r));
  }

  std::shared_ptr<PgSession> session_;
  std::vector<FieldDef> fields_;
  std::vector<PgColumn> columns_;
  std::deque<PgResult> pending_;  // results received but not yet read
  bool finished_ = false;         // the connection has no more results for us
  bool abandoned_ = false;        // a rollback discarded the rest
};

}  // namespace

std::unique_ptr<Cursor> OpenPgRowCursor(std::shared_ptr<PgSession> session, PgDeadline deadline) {
  return std::make_unique<PgRowCursor>(std::move(session), deadline);
}

}  // namespace ostrevane
