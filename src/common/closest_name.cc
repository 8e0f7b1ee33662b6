#include "common/closest_name.h"

#include <algorithm>

#include "common/case_fold.h"

namespace ostrevane {

size_t NameDistance(std::string_view a_text, std::string_view b_text) {
  const std::string a = FoldCase(a_text), b = FoldCase(b_text);
  // Three rows of the optimal-string-alignment table: two back, one back,
  // and the one being filled.
  std::vector<size_t> two_back(b.size() + 1), one_back(b.size() + 1), row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) one_back[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t replace = one_back[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({one_back[j] + 1, row[j - 1] + 1, replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], two_back[j - 2] + 1);
    }
    std::swap(two_back, one_back);
    std::swap(one_back, row);
  }
  return one_back[b.size()];
}

std::string ClosestName(std::string_view name, const std::vector<std::string_view>& candidates) {
  const size_t limit = name.size() <= 4 ? 1 : name.size() <= 8 ? 2 : 3;
  std::string_view best;
  size_t best_distance = limit + 1;
  for (std::string_view candidate : candidates) {
    const size_t distance = NameDistance(name, candidate);
    if (distance < best_distance) best = candidate, best_distance = distance;
  }
  return std::string(best);
}

}  // namespace ostrevane
