// The floor for an export through an ODBC driver: a bare loop over the ODBC
// API that writes every row of a query as CSV (values as the driver gives
// their text, "," between them, CR LF between rows, no quoting) through a
// 1 MiB buffer, in one of two access styles:
//
//   bind      every column bound as SQL_C_CHAR, column-wise, 1,000 rows a
//             fetch (SQL_ATTR_ROW_ARRAY_SIZE); a value longer than its
//             buffer (the declared size, at most 1,024 bytes) is written cut
//             and counted on standard error
//   getdata   SQLGetData per cell as SQL_C_CHAR (narrow text)
//   getdataw  SQLGetData per cell as SQL_C_WCHAR, turned into UTF-8 here
//
// "manual" as the fifth argument turns autocommit off before the query (the
// PostgreSQL driver streams a server-side cursor only in a transaction; the
// SQLite driver streams only under autocommit). The process runs under
// C.UTF-8, so narrow text is UTF-8 whatever the environment's locale.
// bench/compare.sh sets the program's ODBC exports beside it.
// Usage: odbc_loop CONNECTION-STRING SQL OUTPUT bind|getdata|getdataw [manual]
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Die(SQLSMALLINT type, SQLHANDLE h, const char* what) {
  SQLCHAR state[6], message[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  std::fprintf(stderr, "%s failed", what);
  for (SQLSMALLINT rec = 1;
       SQLGetDiagRec(type, h, rec, state, &native, message, sizeof message, &len) == SQL_SUCCESS;
       ++rec)
    std::fprintf(stderr, ": [%s] %s", state, message);
  std::fprintf(stderr, "\n");
  std::exit(1);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
  if (!SQL_SUCCEEDED(rc)) Die(type, h, what);
}

// UTF-16 code units to UTF-8 bytes, appended (unpaired surrogates as U+FFFD).
void AppendUtf8(const SQLWCHAR* w, size_t n, std::string& out) {
  for (size_t k = 0; k < n; ++k) {
    unsigned c = w[k];
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < n && w[k + 1] >= 0xDC00 && w[k + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (w[++k] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = 0xFFFD;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12);
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18);
      out += char(0x80 | (c >> 12 & 0x3F));
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
}

// Every row by bound column arrays.
long long BoundLoop(SQLHSTMT st, SQLSMALLINT columns, SQLULEN kRows, bool wide, std::FILE* out) {
  struct Bound {
    SQLLEN width;
    std::vector<char> data;
    std::vector<SQLLEN> ind;
  };
  std::vector<Bound> bound(static_cast<size_t>(columns));
  for (SQLSMALLINT c = 0; c < columns; ++c) {
    SQLSMALLINT name_len, type, digits, nullable;
    SQLULEN size = 0;
    SQLCHAR name[256];
    Check(SQLDescribeCol(st, SQLUSMALLINT(c + 1), name, sizeof name, &name_len, &type, &size,
                         &digits, &nullable),
          SQL_HANDLE_STMT, st, "SQLDescribeCol");
    Bound& b = bound[size_t(c)];
    b.width = SQLLEN(std::clamp<SQLULEN>(size * 4 + 4, 32, 1024));
    b.data.resize(size_t(b.width) * kRows);
    b.ind.resize(kRows);
    Check(SQLBindCol(st, SQLUSMALLINT(c + 1), wide ? SQL_C_WCHAR : SQL_C_CHAR, b.data.data(),
                     b.width, b.ind.data()),
          SQL_HANDLE_STMT, st, "SQLBindCol");
  }
  SQLULEN fetched = 0;
  Check(SQLSetStmtAttr(st, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0), SQL_HANDLE_STMT, st,
        "SQL_ATTR_ROW_BIND_TYPE");
  Check(SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0),
        SQL_HANDLE_STMT, st, "SQL_ATTR_ROW_ARRAY_SIZE");
  Check(SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, st,
        "SQL_ATTR_ROWS_FETCHED_PTR");
  long long rows = 0, cut = 0;
  std::string text;
  for (;;) {
    const SQLRETURN rc = SQLFetch(st);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
    for (SQLULEN r = 0; r < fetched; ++r, ++rows) {
      if (rows > 0) std::fwrite("\r\n", 1, 2, out);
      for (SQLSMALLINT c = 0; c < columns; ++c) {
        if (c > 0) std::fputc(',', out);
        const Bound& b = bound[size_t(c)];
        const SQLLEN ind = b.ind[r];
        if (ind == SQL_NULL_DATA) continue;
        SQLLEN len = ind;
        const SQLLEN room = b.width - (wide ? SQLLEN(sizeof(SQLWCHAR)) : 1);
        if (ind == SQL_NO_TOTAL || ind > room) {
          ++cut;
          len = room;
        }
        const char* data = b.data.data() + size_t(b.width) * r;
        if (wide) {
          text.clear();
          AppendUtf8(reinterpret_cast<const SQLWCHAR*>(data), size_t(len) / sizeof(SQLWCHAR), text);
          std::fwrite(text.data(), 1, text.size(), out);
        } else {
          std::fwrite(data, 1, size_t(len), out);
        }
      }
    }
  }
  if (cut > 0) std::fprintf(stderr, "%lld values were longer than their buffers\n", cut);
  return rows;
}

// Every row by SQLGetData per cell, narrow or wide.
long long GetDataLoop(SQLHSTMT st, SQLSMALLINT columns, bool wide, std::FILE* out) {
  std::vector<char> narrow(4096);
  std::vector<SQLWCHAR> w(4096);
  std::string text;
  long long rows = 0;
  for (;;) {
    const SQLRETURN rc = SQLFetch(st);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
    if (rows++ > 0) std::fwrite("\r\n", 1, 2, out);
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      if (c > 1) std::fputc(',', out);
      for (;;) {  // chunks of a long value
        SQLLEN ind = 0;
        const SQLRETURN got =
            wide ? SQLGetData(st, SQLUSMALLINT(c), SQL_C_WCHAR, w.data(),
                              SQLLEN(w.size() * sizeof(SQLWCHAR)), &ind)
                 : SQLGetData(st, SQLUSMALLINT(c), SQL_C_CHAR, narrow.data(), SQLLEN(narrow.size()),
                              &ind);
        if (got == SQL_NO_DATA) break;
        Check(got, SQL_HANDLE_STMT, st, "SQLGetData");
        if (ind == SQL_NULL_DATA) break;
        const bool more = got == SQL_SUCCESS_WITH_INFO;
        if (wide) {
          const size_t units = more ? w.size() - 1 : size_t(ind) / sizeof(SQLWCHAR);
          text.clear();
          AppendUtf8(w.data(), units, text);
          std::fwrite(text.data(), 1, text.size(), out);
        } else {
          std::fwrite(narrow.data(), 1, more ? narrow.size() - 1 : size_t(ind), out);
        }
        if (!more) break;
      }
    }
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc >= 5 ? argv[4] : "";
  const bool bind = mode == "bind" || mode == "bindw" || mode == "bind1";
  if ((argc != 5 && argc != 6) || (!bind && mode != "getdata" && mode != "getdataw") ||
      (argc == 6 && std::strcmp(argv[5], "manual") != 0)) {
    std::fprintf(stderr, "usage: %s CONNECTION-STRING SQL OUTPUT bind|bindw|bind1|getdata|getdataw [manual]\n",
                 argv[0]);
    return 2;
  }
  std::setlocale(LC_ALL, "C.UTF-8");
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return 1;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle");
  Check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0,
                         nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
  if (argc == 6)
    Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, dbc, "SQL_ATTR_AUTOCOMMIT");
  Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
  Check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS), SQL_HANDLE_STMT, st,
        "SQLExecDirect");
  SQLSMALLINT columns = 0;
  Check(SQLNumResultCols(st, &columns), SQL_HANDLE_STMT, st, "SQLNumResultCols");
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::perror(argv[3]);
    return 1;
  }
  constexpr size_t kBuffer = size_t{1} << 20;
  auto buffer = std::make_unique<char[]>(kBuffer);
  std::setvbuf(out, buffer.get(), _IOFBF, kBuffer);
  if (bind)
    BoundLoop(st, columns, mode == "bind1" ? 1 : 1000, mode == "bindw", out);
  else
    GetDataLoop(st, columns, mode == "getdataw", out);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  if (argc == 6) SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return std::fclose(out) == 0 ? 0 : 1;
}
