// The ":name" placeholders of a SQL text. Only code holds placeholders:
// string literals, quoted names and comments are skipped with the rules of
// the database that runs the text, so a colon in '10:30', in "a:b" or in
// "-- at 10:30" stays as written.
#pragma once

#include <string_view>
#include <vector>

namespace ostrevane {

// The quoting and comment rules of one database's SQL.
enum class SqlDialect {
  // '..', ".." and `..` (a doubled quote stays inside), "--" to the end of
  // the line, /* */ (not nested). Used where the database is not known.
  kGeneric,
  // Generic, and [..] names.
  kSqlite,
  // Generic, and E'..' with backslash escapes, $$..$$ and $tag$..$tag$,
  // nested /* */.
  kPostgres,
  // '..' and ".." with backslash escapes (and doubled quotes), `..`, "-- "
  // only with a blank or the end after the dashes, # to the end of the line,
  // /* */ (the server's /*! */ included).
  kMysql,
};

// A placeholder: a colon outside quotes and comments, then a name that
// begins with a letter or "_" and runs over letters, digits and "_"
// (bytes of non-ASCII UTF-8 letters count as letters). "::" is no
// placeholder, and neither is a colon before anything else (":=", ": x",
// ":1" as in PostgreSQL's arr[1:2]).
struct Placeholder {
  size_t pos = 0;         // of the colon
  std::string_view name;  // the name, a view into the scanned text
  size_t length() const { return name.size() + 1; }
};

// What a scan of a SQL text finds. A quote or comment left open runs to the
// end of the text; a line comment ends at CR or LF.
struct SqlScan {
  std::vector<Placeholder> placeholders;  // in order
  // The program's macro lines ("--param ", "--fields " at the start of a
  // line, outside quotes and comments) are comments in every dialect; for
  // MySQL, which reads "--" as a comment only before a blank, the position of
  // each such line, to be sent as "-- param ..." / "-- fields ...".
  std::vector<size_t> macro_lines;
};

// Linear in the size of the text; the result holds only what is found.
SqlScan ScanSql(std::string_view sql, SqlDialect dialect);

// The placeholders of ScanSql.
std::vector<Placeholder> FindPlaceholders(std::string_view sql,
                                          SqlDialect dialect = SqlDialect::kGeneric);

}  // namespace ostrevane
