#include "data/db/mysql_statements.h"

#include <string>

#include "common/text.h"

namespace ostrevane {
namespace {

bool IsWordChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

// Skips a quoted text starting at s[i] (the quote); backslash escapes and
// doubled quotes are both honoured, as the server does by default.
size_t SkipQuoted(std::string_view s, size_t i) {
  const char q = s[i++];
  while (i < s.size()) {
    if (s[i] == '\\' && q != '`') {
      i += 2;
    } else if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        i += 2;
        continue;
      }
      return i + 1;
    } else {
      ++i;
    }
  }
  return s.size();
}

}  // namespace

std::vector<MysqlStatement> SplitMysqlStatements(std::string_view s) {
  std::vector<MysqlStatement> out;
  MysqlStatement cur;
  bool has_content = false;
  std::string first_word;  // of the statement, upper-cased
  std::string prev_word;   // the last word, upper-cased
  bool routine = false;    // CREATE ... PROCEDURE/FUNCTION/TRIGGER/EVENT
  int depth = 0;           // open BEGIN/CASE blocks of a stored program body
  auto finish = [&](size_t end) {
    cur.end = end;
    if (has_content) out.push_back(cur);
    cur = MysqlStatement{};
    cur.begin = end + 1;
    has_content = false;
    first_word.clear();
    prev_word.clear();
    routine = false;
    depth = 0;
  };
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= ' ') {
      ++i;
      continue;
    }
    // "-- " comments need a blank (or the end) after the dashes.
    if (c == '#' || (c == '-' && i + 1 < s.size() && s[i + 1] == '-' &&
                     (i + 2 >= s.size() || static_cast<unsigned char>(s[i + 2]) <= ' '))) {
      size_t nl = s.find('\n', i);
      i = nl == std::string_view::npos ? s.size() : nl + 1;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t close = s.find("*/", i + 2);
      i = close == std::string_view::npos ? s.size() : close + 2;
      continue;
    }
    if (c == ';' && depth == 0) {
      finish(i);
      ++i;
      continue;
    }
    has_content = true;
    if (c == '\'' || c == '"' || c == '`') {
      i = SkipQuoted(s, i);
      prev_word.clear();
      continue;
    }
    if (c == '?') {
      ++cur.param_count;
      ++i;
      continue;
    }
    if (IsWordChar(c)) {
      size_t j = i;
      while (j < s.size() && IsWordChar(static_cast<unsigned char>(s[j]))) ++j;
      std::string word = ToUpperAscii(s.substr(i, j - i));
      if (first_word.empty()) first_word = word;
      if (first_word == "CREATE" &&
          (word == "PROCEDURE" || word == "FUNCTION" || word == "TRIGGER" || word == "EVENT"))
        routine = true;
      if (routine) {
        // END IF / END LOOP / END CASE ... close what opened without a
        // counted word; only BEGIN and CASE blocks are counted.
        if ((word == "BEGIN" || word == "CASE") && prev_word != "END") ++depth;
        else if (word == "END" && depth > 0) --depth;
        else if (prev_word == "END" && (word == "IF" || word == "LOOP" || word == "WHILE" ||
                                        word == "REPEAT"))
          ++depth;  // that END closed no counted block
      }
      prev_word = std::move(word);
      i = j;
      continue;
    }
    prev_word.clear();
    ++i;
  }
  finish(s.size());
  return out;
}

}  // namespace ostrevane
