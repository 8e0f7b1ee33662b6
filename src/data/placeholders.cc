#include "data/placeholders.h"

namespace ostrevane {
namespace {

constexpr size_t kEnd = std::string_view::npos;

bool IsNameStart(unsigned char c) {
  return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
// Words (names, keywords, numbers) are skipped whole, so that a "$" or a
// quote inside one is read as the database reads it.
bool IsWordChar(unsigned char c) { return IsNameChar(c) || c == '$'; }

class Scanner {
 public:
  Scanner(std::string_view sql, SqlDialect dialect) : s_(sql), dialect_(dialect) {}

  SqlScan Run() {
    SqlScan out;
    size_t i = 0;
    while (i < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[i]);
      switch (c) {
        case '\'':
          i = AfterQuoted(i + 1, '\'', mysql());
          break;
        case '"':
          i = AfterQuoted(i + 1, '"', mysql());
          break;
        case '`':
          i = AfterQuoted(i + 1, '`', false);
          break;
        case '[':
          i = dialect_ == SqlDialect::kSqlite ? AfterFirst(i + 1, "]") : i + 1;
          break;
        case '-':
          if (MacroLineAt(i)) {
            if (mysql()) out.macro_lines.push_back(i);
            i = AfterLine(i);
          } else {
            i = LineCommentAt(i) ? AfterLine(i) : i + 1;
          }
          break;
        case '#':
          i = mysql() ? AfterLine(i) : i + 1;
          break;
        case '/':
          i = i + 1 < s_.size() && s_[i + 1] == '*' ? AfterBlockComment(i + 2) : i + 1;
          break;
        case '$':
          i = dialect_ == SqlDialect::kPostgres ? AfterDollarQuote(i) : i + 1;
          break;
        case ':':
          i = AfterColon(i, out.placeholders);
          break;
        default:
          i = IsWordChar(c) ? AfterWord(i) : i + 1;
      }
    }
    return out;
  }

 private:
  bool mysql() const { return dialect_ == SqlDialect::kMysql; }

  // The position after the first `text` at or after `from`; the end when
  // there is none.
  size_t AfterFirst(size_t from, std::string_view text) const {
    const size_t at = s_.find(text, from);
    return at == kEnd ? s_.size() : at + text.size();
  }

  // The line break that ends a line comment, or the end.
  size_t AfterLine(size_t from) const {
    const size_t at = s_.find_first_of("\r\n", from);
    return at == kEnd ? s_.size() : at;
  }

  // The position after a quoted text whose opening quote is just before
  // `from`. A doubled quote stays inside; with `backslash`, so does any
  // character after a backslash.
  size_t AfterQuoted(size_t from, char quote, bool backslash) const {
    size_t i = from;
    while (i < s_.size()) {
      const char c = s_[i];
      if (backslash && c == '\\') {
        i += 2;
      } else if (c != quote) {
        ++i;
      } else if (i + 1 < s_.size() && s_[i + 1] == quote) {
        i += 2;
      } else {
        return i + 1;
      }
    }
    return s_.size();
  }

  bool MacroLineAt(size_t i) const {
    if (i > 0 && s_[i - 1] != '\n' && s_[i - 1] != '\r') return false;
    const std::string_view rest = s_.substr(i);
    return rest.substr(0, 8) == "--param " || rest.substr(0, 9) == "--fields ";
  }

  bool LineCommentAt(size_t i) const {
    if (i + 1 >= s_.size() || s_[i + 1] != '-') return false;
    // MySQL reads "--" as a comment only before a blank or a control
    // character (or at the end): "5--:x" is 5 minus minus :x there.
    return !mysql() || i + 2 >= s_.size() || static_cast<unsigned char>(s_[i + 2]) <= ' ';
  }

  size_t AfterBlockComment(size_t from) const {
    if (dialect_ != SqlDialect::kPostgres) return AfterFirst(from, "*/");
    size_t depth = 1;  // PostgreSQL nests block comments
    size_t i = from;
    while (i + 1 < s_.size()) {
      if (s_[i] == '/' && s_[i + 1] == '*') {
        ++depth;
        i += 2;
      } else if (s_[i] == '*' && s_[i + 1] == '/') {
        i += 2;
        if (--depth == 0) return i;
      } else {
        ++i;
      }
    }
    return s_.size();
  }

  // At a "$" that begins no word: $$..$$ or $tag$..$tag$ (a tag is a name
  // without "$"); any other "$" ("$1") is only itself.
  size_t AfterDollarQuote(size_t at) const {
    size_t j = at + 1;
    if (j < s_.size() && IsNameStart(static_cast<unsigned char>(s_[j])))
      while (j < s_.size() && IsNameChar(static_cast<unsigned char>(s_[j]))) ++j;
    if (j >= s_.size() || s_[j] != '$') return at + 1;
    return AfterFirst(j + 1, s_.substr(at, j + 1 - at));
  }

  size_t AfterWord(size_t at) const {
    size_t j = at + 1;
    while (j < s_.size() && IsWordChar(static_cast<unsigned char>(s_[j]))) ++j;
    // PostgreSQL's E'..' (the E a word of its own) takes backslash escapes.
    if (dialect_ == SqlDialect::kPostgres && j == at + 1 && (s_[at] == 'E' || s_[at] == 'e') &&
        j < s_.size() && s_[j] == '\'')
      return AfterQuoted(j + 1, '\'', true);
    return j;
  }

  size_t AfterColon(size_t at, std::vector<Placeholder>& out) const {
    const size_t first = at + 1;
    if (first >= s_.size()) return first;
    if (s_[first] == ':') return first + 1;  // a "::" cast: both colons stay
    if (!IsNameStart(static_cast<unsigned char>(s_[first]))) return first;
    size_t j = first + 1;
    while (j < s_.size() && IsNameChar(static_cast<unsigned char>(s_[j]))) ++j;
    out.push_back({at, s_.substr(first, j - first)});
    return j;
  }

  std::string_view s_;
  SqlDialect dialect_;
};

}  // namespace

SqlScan ScanSql(std::string_view sql, SqlDialect dialect) { return Scanner(sql, dialect).Run(); }

std::vector<Placeholder> FindPlaceholders(std::string_view sql, SqlDialect dialect) {
  return ScanSql(sql, dialect).placeholders;
}

}  // namespace ostrevane
