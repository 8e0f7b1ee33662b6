#include "data/db/odbc_connect.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace ostrevane::odbc {
namespace {

SQLRETURN DriverConnect(SQLHDBC dbc, std::string& text) {
  // The narrow call passes the UTF-8 text unchanged to an ANSI driver.
  SQLCHAR out[1024];
  SQLSMALLINT out_len = 0;
  return SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                          SQLSMALLINT(text.size()), out, SQLSMALLINT(std::size(out)), &out_len,
                          SQL_DRIVER_NOPROMPT);
}

// One connection attempt, shared by the caller and the connecting thread;
// whoever lets go of it last frees the handles.
struct Attempt {
  Handle env, dbc;  // declared first: freed last, after the text
  std::string text;
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  bool abandoned = false;
  SQLRETURN rc = SQL_ERROR;
};

}  // namespace

SQLRETURN ConnectWithin(Session& s, std::string text, int seconds) {
  const auto attr = reinterpret_cast<SQLPOINTER>(intptr_t(seconds < 0 ? 0 : seconds));
  SQLSetConnectAttr(s.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, attr, 0);
  SQLSetConnectAttr(s.dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, attr, 0);
  if (seconds <= 0) return DriverConnect(s.dbc.get(), text);

  auto attempt = std::make_shared<Attempt>();
  attempt->env = std::move(s.env);
  attempt->dbc = std::move(s.dbc);
  attempt->text = std::move(text);
  std::thread([attempt] {
    const SQLRETURN rc = DriverConnect(attempt->dbc.get(), attempt->text);
    std::lock_guard lock(attempt->mutex);
    attempt->rc = rc;
    attempt->done = true;
    // Nobody waits any more: the connection is closed here, the handles
    // are freed with the last reference.
    if (attempt->abandoned && Ok(rc)) SQLDisconnect(attempt->dbc.get());
    attempt->done_cv.notify_all();
  }).detach();

  std::unique_lock lock(attempt->mutex);
  // One second of grace lets a driver that keeps the limit report it.
  const bool done = attempt->done_cv.wait_for(lock, std::chrono::seconds(seconds + 1),
                                              [&] { return attempt->done; });
  if (!done) {
    attempt->abandoned = true;
    throw Error(kEDatabaseError, "The connection time-out of " + std::to_string(seconds) +
                                     " s expired without an answer from the server");
  }
  s.env = std::move(attempt->env);
  s.dbc = std::move(attempt->dbc);
  return attempt->rc;
}

bool KillMysqlQuery(const std::string& text, const std::string& connection_id, int seconds) {
  Session k;
  SQLHANDLE h;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h))) return false;
  k.env = Handle(SQL_HANDLE_ENV, h);
  SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, k.env.get(), &h))) return false;
  k.dbc = Handle(SQL_HANDLE_DBC, h);
  try {
    if (!Ok(ConnectWithin(k, text, seconds))) return false;
  } catch (const Error&) {
    return false;  // the attempt goes on alone and frees its handles
  }
  bool killed = false;
  if (Ok(SQLAllocHandle(SQL_HANDLE_STMT, k.dbc.get(), &h))) {
    Handle stmt(SQL_HANDLE_STMT, h);
    std::string sql = "KILL QUERY " + connection_id;
    killed = Ok(SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(sql.data()), SQLINTEGER(sql.size())));
  }
  SQLDisconnect(k.dbc.get());
  return killed;
}

}  // namespace ostrevane::odbc
