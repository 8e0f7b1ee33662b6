// Parameters of an ODBC statement: each value bound with the C and SQL type
// that its kind and declared field type call for.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "data/db/backend.h"
#include "data/db/odbc_session.h"

namespace ostrevane::odbc {

// Storage of one bound parameter; lives until the statement is done.
struct BoundBuffer {
  std::u16string wide;
  std::string bytes;  // binary data, or UTF-8 text for an ANSI driver
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  unsigned char bit = 0;
  SQL_TIMESTAMP_STRUCT ts{};
  SQL_DATE_STRUCT date{};
  SQL_TIME_STRUCT time{};
  SQLLEN ind = 0;
};

// Binds parameter `n` (1-based) of `stmt` to `p`, with `b` as its storage.
void BindParam(SQLHSTMT stmt, SQLUSMALLINT n, const BoundParam& p, BoundBuffer& b,
               const Session& s);

}  // namespace ostrevane::odbc
