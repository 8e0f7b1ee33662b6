#include "common/strftime_pattern.h"

#include <vector>

namespace ostrevane {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsAsciiPunct(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u > 32 && u < 127 && !IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '%';
}

// One piece of a strftime format: a conversion (with its flag) or literal text.
struct Token {
  bool conversion;
  char conv;   // the conversion character
  char flag;   // '-' for "no padding", else 0
  std::string text;  // literal text
};

std::vector<Token> Tokenize(std::string_view fmt) {
  std::vector<Token> tokens;
  auto literal = [&tokens](std::string_view s) {
    if (tokens.empty() || tokens.back().conversion) tokens.push_back({false, 0, 0, {}});
    tokens.back().text.append(s);
  };
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 >= fmt.size()) {
      literal(fmt.substr(i, 1));
      continue;
    }
    ++i;
    char flag = 0;
    while (i < fmt.size() && (fmt[i] == '-' || fmt[i] == '_' || fmt[i] == '0' || fmt[i] == '^' ||
                              fmt[i] == '#')) {
      if (fmt[i] == '-') flag = '-';
      ++i;
    }
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') ++i;  // field width
    if (i < fmt.size() && (fmt[i] == 'E' || fmt[i] == 'O')) ++i;  // alternative forms
    if (i >= fmt.size()) break;
    const char c = fmt[i];
    if (c == '%') literal("%");
    else if (c == 'n' || c == 't') literal(" ");
    else tokens.push_back({true, c, flag, {}});
  }
  return tokens;
}

void AppendLiteral(std::string& out, std::string_view text, char date_sep, char time_sep) {
  std::string quoted;  // pending characters that need quotes
  auto flush = [&]() {
    if (quoted.empty()) return;
    out += '"';
    out += quoted;
    out += '"';
    quoted.clear();
  };
  for (char c : text) {
    if (date_sep != '\0' && c == date_sep) {
      flush();
      out += '/';
    } else if (time_sep != '\0' && c == time_sep) {
      flush();
      out += ':';
    } else if (c == '"') {
      flush();
      out += "'\"'";
    } else if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'' || c == '!') {
      quoted += c;
    } else {
      flush();
      out += c;
    }
  }
  flush();
}

std::string Translate(std::string_view fmt, char date_sep, char time_sep,
                      std::string_view t_fmt_ampm, int depth);

void AppendConversion(std::string& out, const Token& t, char date_sep, char time_sep,
                      std::string_view t_fmt_ampm, int depth) {
  const bool unpadded = t.flag == '-';
  auto spelt = [&](std::string_view fmt) {
    // A locale whose %r spells itself with %r must not recurse forever.
    if (depth < 3) out += Translate(fmt, date_sep, time_sep, t_fmt_ampm, depth + 1);
  };
  switch (t.conv) {
    case 'Y': case 'G': out += "yyyy"; break;
    case 'y': case 'g': out += "yy"; break;
    case 'm': out += unpadded ? "m" : "mm"; break;
    case 'b': case 'h': out += "mmm"; break;
    case 'B': out += "mmmm"; break;
    case 'd': out += unpadded ? "d" : "dd"; break;
    case 'e': out += "d"; break;
    case 'a': out += "ddd"; break;
    case 'A': out += "dddd"; break;
    case 'H': case 'I': out += unpadded ? "h" : "hh"; break;
    case 'k': case 'l': out += "h"; break;
    case 'M': out += unpadded ? "n" : "nn"; break;
    case 'S': out += unpadded ? "s" : "ss"; break;
    case 'p': case 'P': out += "AMPM"; break;
    case 'D': spelt("%m/%d/%y"); break;
    case 'F': spelt("%Y-%m-%d"); break;
    case 'T': spelt("%H:%M:%S"); break;
    case 'R': spelt("%H:%M"); break;
    case 'r': spelt(t_fmt_ampm.empty() ? "%I:%M:%S %p" : t_fmt_ampm); break;
    default: break;  // zones, week numbers, day of year, %x/%X/%c: nothing
  }
}

std::string Translate(std::string_view fmt, char date_sep, char time_sep,
                      std::string_view t_fmt_ampm, int depth) {
  std::string out;
  for (const Token& t : Tokenize(fmt)) {
    if (t.conversion)
      AppendConversion(out, t, date_sep, time_sep, t_fmt_ampm, depth);
    else
      AppendLiteral(out, t.text, date_sep, time_sep);
  }
  return out;
}

bool IsDateConversion(char c) {
  switch (c) {
    case 'Y': case 'G': case 'y': case 'g': case 'm': case 'b': case 'h': case 'B':
    case 'd': case 'e': case 'a': case 'A': case 'D': case 'F':
      return true;
    default:
      return false;
  }
}

}  // namespace

char StrftimeSeparator(std::string_view fmt, char fallback) {
  for (const Token& t : Tokenize(fmt)) {
    if (t.conversion) continue;
    for (char c : t.text)
      if (IsAsciiPunct(c)) return c;
  }
  return fallback;
}

std::string StrftimeToPattern(std::string_view fmt, char date_sep, char time_sep,
                              std::string_view t_fmt_ampm) {
  return Translate(fmt, date_sep, time_sep, t_fmt_ampm, 1);
}

std::string StrftimeLongDatePattern(std::string_view d_t_fmt, char date_sep, char time_sep) {
  const std::vector<Token> tokens = Tokenize(d_t_fmt);
  std::string out;
  auto is_date = [&](size_t k) {
    return k < tokens.size() && tokens[k].conversion && IsDateConversion(tokens[k].conv);
  };
  size_t last_date = tokens.size();
  for (size_t k = 0; k < tokens.size(); ++k)
    if (is_date(k)) last_date = k;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.conversion) {
      if (!IsDateConversion(t.conv)) continue;
      Token long_form = t;
      if (t.conv == 'a') long_form.conv = 'A';
      if (t.conv == 'b' || t.conv == 'h') long_form.conv = 'B';
      AppendConversion(out, long_form, date_sep, time_sep, "", 1);
    } else if (k > 0 && is_date(k - 1) && is_date(k + 1)) {
      // Only text between two date conversions belongs to the date.
      AppendLiteral(out, t.text, date_sep, time_sep);
    } else if (k > 0 && k - 1 == last_date) {
      // The word that closes the date ("%d日 %H時": the "日") belongs to it;
      // from the first blank on, and a trailing comma, lead to the time.
      std::string_view tail = t.text;
      tail = tail.substr(0, tail.find_first_of(" \t"));
      while (!tail.empty() && (tail.back() == ',' || tail.back() == ';')) tail.remove_suffix(1);
      AppendLiteral(out, tail, date_sep, time_sep);
    }
  }
  return out;
}

}  // namespace ostrevane
