#include "common/case_fold.h"

#include <algorithm>

#include "common/case_fold_table.h"
#include "common/text.h"

namespace ostrevane {
namespace {

// A byte that starts no valid UTF-8 sequence stands for itself, as a value
// above every code point, so that it folds to nothing else and equals only
// the same byte.
constexpr char32_t kLooseByte = 0x110000;

// Decodes the character at s[i]; returns its length in bytes (at least 1).
size_t Decode(std::string_view s, size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t n = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07, min = 0x10000;
  }
  if (n == 0 || i + n > s.size()) {
    cp = kLooseByte + b0;
    return 1;
  }
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      cp = kLooseByte + b0;
      return 1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    cp = kLooseByte + b0;
    return 1;
  }
  return n;
}

// The folded character at s[i] and its length in bytes.
size_t FoldedAt(std::string_view s, size_t i, char32_t& folded) {
  char32_t cp;
  const size_t n = Decode(s, i, cp);
  folded = cp < kLooseByte ? FoldCase(cp) : cp;
  return n;
}

// Length in bytes of the match of `needle` at hay[at], or npos.
size_t MatchAt(std::string_view hay, size_t at, std::string_view needle) {
  size_t i = at, k = 0;
  while (k < needle.size()) {
    if (i >= hay.size()) return std::string_view::npos;
    char32_t a, b;
    i += FoldedAt(hay, i, a);
    k += FoldedAt(needle, k, b);
    if (a != b) return std::string_view::npos;
  }
  return i - at;
}

}  // namespace

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  const CaseFoldRun* end = kCaseFoldRuns + kCaseFoldRunCount;
  const CaseFoldRun* run = std::upper_bound(
      kCaseFoldRuns, end, c, [](char32_t v, const CaseFoldRun& r) { return v < r.first; });
  if (run == kCaseFoldRuns) return c;
  --run;
  if (c > run->last || (c - run->first) % char32_t(run->stride) != 0) return c;
  return char32_t(int32_t(c) + run->delta);
}

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    const size_t n = Decode(utf8, i, cp);
    if (cp >= kLooseByte)
      out.append(utf8.substr(i, n));
    else
      AppendUtf8(out, FoldCase(cp));
    i += n;
  }
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  size_t i = 0, k = 0;
  while (i < a.size() && k < b.size()) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[k]);
    if (x < 0x80 && y < 0x80) {  // the common case: two ASCII bytes
      if (FoldCase(char32_t(x)) != FoldCase(char32_t(y))) return false;
      ++i, ++k;
      continue;
    }
    char32_t p, q;
    i += FoldedAt(a, i, p);
    k += FoldedAt(b, k, q);
    if (p != q) return false;
  }
  return i == a.size() && k == b.size();
}

NameMatch FindName(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return {};
  for (size_t i = from; i < hay.size();) {
    const size_t n = MatchAt(hay, i, needle);
    if (n != std::string_view::npos) return {i, n};
    char32_t cp;
    i += Decode(hay, i, cp);
  }
  return {};
}

}  // namespace ostrevane
