// The statements of a PostgreSQL SQL text and the positional parameters
// ("$1") each one uses, found with the server's lexical rules for quotes,
// dollar quotes, comments and BEGIN ATOMIC bodies. The backend needs both:
// a streamed result must come from a statement sent on its own, and the
// extended protocol takes one statement with exactly its own parameters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

struct PgParamRef {
  size_t pos = 0;     // of the "$"
  size_t length = 0;  // "$" and digits
  int number = 0;     // 1-based
};

struct PgStatement {
  size_t begin = 0, end = 0;  // the text without its ";"
  std::vector<PgParamRef> params;
  std::string keyword;  // the first word, upper-cased, after any "("; empty if none
};

// The statements that hold more than blanks and comments, in order.
std::vector<PgStatement> SplitPgStatements(std::string_view sql);

// One statement ready to send: its text with the parameters renumbered
// from $1 in order of first use, and for each new number the 0-based index
// of the value it takes. References beyond `param_count` stay as written
// (the server reports them).
struct PgPiece {
  std::string sql;
  std::vector<size_t> value_index;
};
PgPiece MakePgPiece(std::string_view sql, const PgStatement& st, size_t param_count);

}  // namespace ostrevane
