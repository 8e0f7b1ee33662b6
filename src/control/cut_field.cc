#include "control/cut_field.h"

#include <algorithm>

#include "common/error.h"

namespace ostrevane {

std::string CutField(std::string_view& src, std::string_view delimiter,
                     std::string_view insulator) {
  constexpr size_t npos = std::string_view::npos;
  const bool quoting = !insulator.empty() && !(insulator.size() == 1 && insulator[0] == '\0');
  // An empty delimiter is never found: the whole source is one token.
  auto find_delimiter = [&] { return delimiter.empty() ? npos : src.find(delimiter); };

  std::string token;
  // d is the first delimiter of the current source. It stays valid while the
  // text removed in front of it is shorter than d, so a long token of many
  // quoted parts is not rescanned for every part.
  size_t d = find_delimiter();
  auto advance = [&](size_t n) {
    src.remove_prefix(n);
    if (d != npos && d >= n)
      d -= n;
    else if (d != npos)
      d = find_delimiter();
  };

  while (quoting) {
    // Only an insulator that starts before the first delimiter opens a
    // quoted part; search no further than that.
    const size_t limit = d == npos ? src.size() : std::min(src.size(), d + insulator.size() - 1);
    const size_t q = src.substr(0, limit).find(insulator);
    if (q == npos) break;
    token.append(src.substr(0, q));
    advance(q + insulator.size());
    const size_t c = src.find(insulator);
    if (c == npos) {
      throw Exception("Can't find 2nd insulator '" + std::string(insulator) + "':\r\n" +
                      std::string(src));
    }
    // An empty quoted part stands for one literal insulator.
    token.append(c == 0 ? insulator : src.substr(0, c));
    advance(c + insulator.size());
  }

  if (d != npos) {
    token.append(src.substr(0, d));
    src.remove_prefix(d + delimiter.size());
  } else {
    token.append(src);
    src = {};
  }
  return token;
}

std::string CutField(std::string& source, std::string_view delimiter, std::string_view insulator) {
  std::string_view rest(source);
  try {
    std::string token = CutField(rest, delimiter, insulator);
    source.erase(0, source.size() - rest.size());
    return token;
  } catch (...) {
    source.erase(0, source.size() - rest.size());
    throw;
  }
}

}  // namespace ostrevane
