#include "delivery/punycode.h"

#include <cstdint>
#include <vector>

#include "common/case_fold.h"
#include "common/text.h"

namespace ostrevane::delivery {
namespace {

constexpr uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700;
constexpr uint32_t kInitialBias = 72, kInitialN = 128;

char Digit(uint32_t d) { return char(d < 26 ? 'a' + d : '0' + (d - 26)); }

uint32_t Adapt(uint32_t delta, uint32_t points, bool first) {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

}  // namespace

std::optional<std::string> Punycode(std::string_view utf8_label) {
  if (!IsValidUtf8(utf8_label)) return std::nullopt;
  const std::u16string utf16 = Utf8ToUtf16(utf8_label);
  std::vector<uint32_t> input;
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(utf16[++i]) - 0xDC00);
    }
    input.push_back(c);
  }
  std::string out;
  for (uint32_t c : input)
    if (c < 0x80) out += char(c);
  const uint32_t basic = uint32_t(out.size());
  uint32_t handled = basic;
  if (basic > 0) out += '-';
  uint32_t n = kInitialN, delta = 0, bias = kInitialBias;
  constexpr uint32_t kMax = UINT32_MAX;
  while (handled < input.size()) {
    uint32_t m = kMax;
    for (uint32_t c : input)
      if (c >= n && c < m) m = c;
    if (m - n > (kMax - delta) / (handled + 1)) return std::nullopt;
    delta += (m - n) * (handled + 1);
    n = m;
    for (uint32_t c : input) {
      if (c < n && ++delta == 0) return std::nullopt;
      if (c != n) continue;
      uint32_t q = delta;
      for (uint32_t k = kBase;; k += kBase) {
        const uint32_t t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
        if (q < t) break;
        out += Digit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      out += Digit(q);
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return out;
}

std::optional<std::string> AsciiDomain(std::string_view utf8_domain) {
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t dot = utf8_domain.find('.', start);
    const std::string_view label =
        utf8_domain.substr(start, dot == std::string_view::npos ? std::string_view::npos
                                                                : dot - start);
    bool ascii = true;
    for (char c : label)
      if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    if (ascii) {
      out += label;
    } else {
      const std::optional<std::string> code = Punycode(FoldCase(label));
      if (!code || code->size() + 4 > 63) return std::nullopt;
      out += "xn--" + *code;
    }
    if (dot == std::string_view::npos) break;
    out += '.';
    start = dot + 1;
  }
  return out;
}

}  // namespace ostrevane::delivery
