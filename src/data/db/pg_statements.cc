#include "data/db/pg_statements.h"

#include <algorithm>

#include "common/text.h"

namespace ostrevane {
namespace {

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }

}  // namespace

std::vector<PgStatement> SplitPgStatements(std::string_view s) {
  std::vector<PgStatement> out;
  PgStatement cur;
  bool has_content = false;
  bool keyword_known = false;  // the statement's first token was seen
  std::string prev_word;  // the last word at the top level, upper-cased
  int atomic_depth = 0;   // inside BEGIN ATOMIC ... END
  size_t i = 0;
  auto finish = [&](size_t end) {
    cur.end = end;
    if (has_content) out.push_back(std::move(cur));
    cur = PgStatement{};
    cur.begin = end + 1;
    has_content = false;
    keyword_known = false;
    prev_word.clear();
    atomic_depth = 0;
  };
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= ' ') {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      size_t nl = s.find('\n', i);
      i = nl == std::string_view::npos ? s.size() : nl + 1;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      int depth = 1;
      i += 2;
      while (i < s.size() && depth > 0) {
        if (s.compare(i, 2, "/*") == 0) {
          ++depth;
          i += 2;
        } else if (s.compare(i, 2, "*/") == 0) {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      }
      continue;
    }
    if (c == ';') {
      if (atomic_depth == 0) {
        finish(i);
        ++i;
        continue;
      }
      ++i;
      continue;
    }
    has_content = true;
    if (!keyword_known && c != '(') {
      keyword_known = true;
      if (IsIdentStart(c)) {
        size_t j = i;
        while (j < s.size() && IsIdentChar(static_cast<unsigned char>(s[j]))) ++j;
        cur.keyword = ToUpperAscii(s.substr(i, j - i));
      }
    }
    if (c == '\'') {
      // E'...' strings take backslash escapes.
      const bool escapes = i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                           (i < 2 || !IsIdentChar(static_cast<unsigned char>(s[i - 2])));
      ++i;
      while (i < s.size()) {
        if (escapes && s[i] == '\\') {
          i += 2;
        } else if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            i += 2;
          } else {
            ++i;
            break;
          }
        } else {
          ++i;
        }
      }
      prev_word.clear();
      continue;
    }
    if (c == '"') {
      ++i;
      while (i < s.size()) {
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      prev_word.clear();
      continue;
    }
    if (c == '$') {
      if (i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') {
        size_t j = i + 1;
        int n = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
          if (n < 100000) n = n * 10 + (s[j] - '0');
          ++j;
        }
        cur.params.push_back({i, j - i, n});
        i = j;
        continue;
      }
      // A dollar quote: $$ or $tag$.
      size_t j = i + 1;
      if (j < s.size() && IsIdentStart(static_cast<unsigned char>(s[j]))) {
        while (j < s.size() && IsIdentChar(static_cast<unsigned char>(s[j])) && s[j] != '$') ++j;
      }
      if (j < s.size() && s[j] == '$') {
        const std::string_view tag = s.substr(i, j - i + 1);
        size_t close = s.find(tag, j + 1);
        i = close == std::string_view::npos ? s.size() : close + tag.size();
        prev_word.clear();
        continue;
      }
      ++i;
      continue;
    }
    if (IsIdentStart(c)) {
      size_t j = i;
      while (j < s.size() && IsIdentChar(static_cast<unsigned char>(s[j]))) ++j;
      std::string word = ToUpperAscii(s.substr(i, j - i));
      if (atomic_depth == 0) {
        if (word == "ATOMIC" && prev_word == "BEGIN") atomic_depth = 1;
      } else if (word == "CASE" || (word == "ATOMIC" && prev_word == "BEGIN")) {
        ++atomic_depth;
      } else if (word == "END") {
        --atomic_depth;
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

PgPiece MakePgPiece(std::string_view sql, const PgStatement& st, size_t param_count) {
  PgPiece piece;
  std::vector<int> numbers;  // old numbers in order of first use
  size_t pos = st.begin;
  for (const PgParamRef& p : st.params) {
    piece.sql.append(sql.substr(pos, p.pos - pos));
    pos = p.pos + p.length;
    if (p.number < 1 || size_t(p.number) > param_count) {
      piece.sql.append(sql.substr(p.pos, p.length));
      continue;
    }
    auto it = std::find(numbers.begin(), numbers.end(), p.number);
    size_t k = size_t(it - numbers.begin());
    if (it == numbers.end()) {
      numbers.push_back(p.number);
      piece.value_index.push_back(size_t(p.number - 1));
    }
    piece.sql += '$';
    piece.sql += std::to_string(k + 1);
  }
  piece.sql.append(sql.substr(pos, st.end - pos));
  return piece;
}

}  // namespace ostrevane
