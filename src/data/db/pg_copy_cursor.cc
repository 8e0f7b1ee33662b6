#include "data/db/pg_copy_cursor.h"

#include <deque>
#include <optional>
#include <string>

#include "common/error.h"
#include "data/db/pg_copy_text.h"
#include "data/db/pg_types.h"

namespace ostrevane {
namespace {

struct CopyBufferFree {
  void operator()(char* p) const { PQfreemem(p); }
};

// One row as libpq hands it over: the fields and the closing newline.
struct CopyLine {
  std::unique_ptr<char, CopyBufferFree> data;
  int size = 0;
};

class PgCopyCursor : public Cursor, public PgStream {
 public:
  PgCopyCursor(std::shared_ptr<PgSession> session, std::vector<FieldDef> fields,
               std::vector<PgColumn> columns)
      : session_(std::move(session)), fields_(std::move(fields)), columns_(std::move(columns)) {}

  ~PgCopyCursor() override {
    if (session_->active != this) return;
    try {
      ReadRest(/*keep=*/false);
    } catch (...) {
      // The statement failed after its reader lost interest; nothing to tell.
    }
  }

  // The COPY statement was sent: waits under the deadline for its stream to
  // begin and for the first row (or the end of a result without rows).
  void Start(PgDeadline& deadline) {
    const PgSession& s = *session_;
    PGconn* conn = s.Conn();
    AwaitResult(s, &deadline);
    PgResult r(PQgetResult(conn));
    if (!r || PQresultStatus(r.get()) != PGRES_COPY_OUT) {
      finished_ = true;
      if (!r) s.FailConnection();
      try {
        Drain(s, nullptr);
      } catch (const Error&) {
      }
      if (IsError(r.get())) FailWith(s, r.get(), &deadline);
      s.Fail("The server did not start the row stream");
    }
    session_->active = this;
    for (;;) {
      char* buf = nullptr;
      const int n = PQgetCopyData(conn, &buf, /*async=*/1);
      if (n > 0) {
        pending_.push_back({std::unique_ptr<char, CopyBufferFree>(buf), n});
        return;
      }
      if (n < 0 || !AwaitInput(s, &deadline)) {
        EndOfStream(n < 0 ? n : -2, &deadline);
        return;
      }
    }
  }

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (abandoned_)
      throw Error(kEDatabaseError, "The rest of the result set was discarded by a rollback");
    CopyLine line;
    if (!pending_.empty()) {
      line = std::move(pending_.front());
      pending_.pop_front();
    } else if (finished_) {
      if (deferred_error_) {
        Error e = *deferred_error_;
        deferred_error_.reset();
        throw e;
      }
      return false;
    } else if (!ReadLine(line)) {
      return false;
    }
    if (!decoder_.Parse(std::string_view(line.data.get(), size_t(line.size)), columns_.size()))
      session_->Fail("The server sent a row of " + std::to_string(decoder_.size()) +
                     " fields where the statement described " + std::to_string(columns_.size()));
    row.resize(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
      const std::string_view text = decoder_.Text(c);
      ConvertPgValue(columns_[c], text.data(), int(text.size()), decoder_.IsNull(c),
                     session_->sql_ascii, row[c]);
    }
    return true;
  }

  // Stops the stream of a result whose transaction is being rolled back:
  // its remaining rows are worthless, so the statement is canceled and what
  // was already sent is read and thrown away.
  void Abandon() override {
    SendCancelAndSettle(*session_);
    try {
      ReadRest(/*keep=*/false);
    } catch (const Error&) {
      // The cancel's own error, or the statement's: the rollback follows.
    }
    session_->active = nullptr;
    pending_.clear();
    deferred_error_.reset();
    finished_ = true;
    abandoned_ = true;
  }

  // Reads the rest of the stream into memory so that the connection can run
  // another statement while this cursor stays readable; an error that ends
  // the stream is raised by Fetch after the rows before it.
  void Detach() override {
    try {
      ReadRest(/*keep=*/true);
    } catch (const Error& e) {
      deferred_error_ = e;
    }
    session_->active = nullptr;
  }

 private:
  // Waits for the next row of the stream and moves it into `line`; false at
  // its end (after raising the statement's error, if it failed).
  bool ReadLine(CopyLine& line) {
    char* buf = nullptr;
    const int n = PQgetCopyData(session_->Conn(), &buf, /*async=*/0);
    if (n > 0) {
      line = {std::unique_ptr<char, CopyBufferFree>(buf), n};
      return true;
    }
    EndOfStream(n, nullptr);
    return false;
  }

  void ReadRest(bool keep) {
    CopyLine line;
    while (!finished_ && ReadLine(line))
      if (keep) pending_.push_back(std::move(line));
  }

  // The stream ended (`code` is PQgetCopyData's -1) or broke (-2): collects
  // the statement's outcome and raises its error. The connection is then
  // idle.
  void EndOfStream(int code, PgDeadline* deadline) {
    finished_ = true;
    if (session_->active == this) session_->active = nullptr;
    const PgSession& s = *session_;
    if (code == -2 && PQstatus(s.Conn()) != CONNECTION_OK) s.FailConnection();
    Drain(s, deadline);
  }

  std::shared_ptr<PgSession> session_;
  std::vector<FieldDef> fields_;
  std::vector<PgColumn> columns_;
  PgCopyRow decoder_;
  std::deque<CopyLine> pending_;        // rows received but not yet read
  std::optional<Error> deferred_error_;  // raised after pending_ (Detach)
  bool finished_ = false;                // the connection has no more data for us
  bool abandoned_ = false;               // a rollback discarded the rest
};

}  // namespace

std::unique_ptr<Cursor> OpenPgCopyCursor(std::shared_ptr<PgSession> session, std::string_view query,
                                         PgDeadline& deadline) {
  const PgSession& s = *session;
  PGconn* conn = s.Conn();
  const std::string text(query);
  // The unnamed statement is parsed and described, never executed; a
  // statement the server refuses fails here with the error running it would give.
  if (!PQsendPrepare(conn, "", text.c_str(), 0, nullptr)) s.FailConnection();
  Drain(s, &deadline);
  if (!PQsendDescribePrepared(conn, "")) s.FailConnection();
  PgResult described = Drain(s, &deadline);
  // A cancel that reached the server between the two steps found nothing
  // to cancel; the time was spent all the same.
  if (deadline.expired) FailTimeOut(deadline);
  if (!described || PQnfields(described.get()) == 0) return nullptr;
  std::vector<FieldDef> fields;
  std::vector<PgColumn> columns;
  DescribePgResult(described.get(), s.sql_ascii, fields, columns);

  // The newline ends a "--" comment at the end of the query.
  const std::string copy = "COPY (" + text + "\n) TO STDOUT";
  if (!PQsendQuery(conn, copy.c_str())) s.FailConnection();
  auto cursor = std::make_unique<PgCopyCursor>(std::move(session), std::move(fields), std::move(columns));
  cursor->Start(deadline);
  return cursor;
}

}  // namespace ostrevane
