// What the parts of the ODBC backend share: owned handles, the session of
// one connection (its driver's width, its live cursors),
// diagnostics as one line, and the tests that tell a Unicode driver.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "common/thread_annotations.h"
#include "data/connection_string.h"
#include "data/db/odbc_connect_text.h"
#include "data/placeholders.h"

namespace ostrevane::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

inline std::u16string Wide(std::string_view utf8) { return Utf8ToUtf16(utf8); }
inline SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }
inline std::string Narrow(const SQLWCHAR* w, size_t n) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w), n));
}

inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic records of a handle as one line.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h, bool wide);

// Owns one ODBC handle.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE h) : type_(type), h_(h) {}
  Handle(Handle&& o) noexcept : type_(o.type_), h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      type_ = o.type_;
      h_ = o.h_;
      o.h_ = SQL_NULL_HANDLE;
    }
    return *this;
  }
  ~Handle() { Reset(); }
  void Reset() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
    h_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// Whether the connected driver's library has the Unicode entry points. The
// driver manager has loaded it; it is found among the loaded libraries by
// the file name it reports or the one registered for it (`names`).
bool DriverIsWide(SQLHDBC dbc, std::vector<std::string> names);

// Names that identify the driver a connection will use: the Driver key, or
// the DSN's driver, and the library file registered for it.
std::vector<std::string> DriverNames(SQLHENV env, const std::string& driver,
                                     const std::string& dsn);

class OdbcCursor;

// The connection shared by the backend and its cursors.
struct Session {
  Handle env, dbc;
  bool connected = false;
  bool wide = false;  // the driver has the Unicode entry points
  // Result text is read as SQL_C_CHAR (UTF-8), else as SQL_C_WCHAR: narrow
  // for a driver without the Unicode entry points, and for one whose narrow
  // text is UTF-8 while the process's character type is.
  bool narrow_results = false;
  SqlDialect dialect = SqlDialect::kGeneric;  // of the database behind the driver
  OdbcDriverTraits traits;
  // SQLGetData may read any column in any order, bound ones too: columns
  // may be bound, and a value longer than its buffer read again whole.
  bool bound_reads = false;
  OdbcTransaction transaction = OdbcTransaction::kManualCommit;
  bool in_transaction = false;    // BEGIN sent (kSqlStatements), not yet ended
  std::set<OdbcCursor*> cursors;  // alive, holding statement handles
  // MySQL/MariaDB: the server's id of this connection and the text it was
  // made with (password included, kept in memory only), for KILL QUERY
  // when the driver cannot cancel; empty for other databases.
  std::string mysql_connection_id, connect_text;
  int connect_timeout = 0;

  // The statement handles that Cancel, from another thread, may reach: a
  // handle is entered once allocated and leaves, under the same lock, as
  // it is freed (Free), so a cancel never meets a freed handle.
  void Enter(SQLHSTMT h) {
    std::lock_guard lock(statements_mu_);
    statements_.insert(h);
  }
  void Free(Handle& stmt) {
    std::lock_guard lock(statements_mu_);
    statements_.erase(stmt.get());
    stmt.Reset();
  }
  // Any thread: SQLCancel on every live statement, which ODBC allows while
  // another thread works with it. Waits as long as the driver does.
  void CancelAll() {
    std::lock_guard lock(statements_mu_);
    for (SQLHSTMT h : statements_) SQLCancel(h);
  }

  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE h) const { Fail(Diagnostics(type, h, wide)); }
  // A driver may echo the connection text in its message: its password
  // entries are masked.
  [[noreturn]] void Fail(const std::string& message) const {
    throw Error(kEDatabaseError, MaskSecrets(message));
  }
  SQLHDBC Dbc() const {
    if (!connected) throw Error(kEDatabaseError, "The connection is closed");
    return dbc.get();
  }

 private:
  std::mutex statements_mu_;
  std::set<SQLHSTMT> statements_ GUARDED_BY(statements_mu_);
};

}  // namespace ostrevane::odbc
