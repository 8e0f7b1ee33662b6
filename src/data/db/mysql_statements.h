// The statements of a MySQL SQL text and the "?" parameters of each, found
// with the server's lexical rules for quotes, back-quoted names, comments
// and the BEGIN ... END bodies of stored programs. The backend needs both:
// a streamed result must come from a statement sent on its own, and a
// prepared statement takes one statement with exactly its own parameters.
#pragma once

#include <string_view>
#include <vector>

namespace ostrevane {

struct MysqlStatement {
  size_t begin = 0, end = 0;  // the text without its ";"
  size_t param_count = 0;     // "?" outside quotes and comments
};

// The statements that hold more than blanks and comments, in order.
std::vector<MysqlStatement> SplitMysqlStatements(std::string_view sql);

}  // namespace ostrevane
