#include "common/nearest_name.h"

#include <algorithm>

#include "common/case_fold.h"

namespace ostrevane {
namespace {

// Edits from `a` to `b` (optimal string alignment), or more than `limit`
// when it exceeds that.
size_t Distance(std::string_view a, std::string_view b, size_t limit) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  std::vector<size_t> two_back(b.size() + 1), back(b.size() + 1), row(b.size() + 1);
  for (size_t k = 0; k <= b.size(); ++k) back[k] = k;
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t k = 1; k <= b.size(); ++k) {
      const size_t cost = a[i - 1] == b[k - 1] ? 0 : 1;
      row[k] = std::min({back[k] + 1, row[k - 1] + 1, back[k - 1] + cost});
      if (i > 1 && k > 1 && a[i - 1] == b[k - 2] && a[i - 2] == b[k - 1])
        row[k] = std::min(row[k], two_back[k - 2] + 1);
    }
    two_back.swap(back);
    back.swap(row);
  }
  return back[b.size()];
}

}  // namespace

std::string NearestName(std::string_view name, const std::vector<std::string_view>& candidates) {
  const std::string folded = FoldCase(name);
  const size_t n = folded.size();
  const size_t allowed = n < 3 ? 0 : n < 6 ? 1 : n < 10 ? 2 : n / 3;
  if (allowed == 0) return {};
  const std::string_view* best = nullptr;
  size_t best_distance = allowed + 1;
  for (const std::string_view& candidate : candidates) {
    const size_t d = Distance(folded, FoldCase(candidate), allowed);
    if (d < best_distance) best = &candidate, best_distance = d;
  }
  return best ? std::string(*best) : std::string();
}

std::string NearestName(std::string_view name, const std::vector<std::string>& candidates) {
  return NearestName(name, std::vector<std::string_view>(candidates.begin(), candidates.end()));
}

std::string NameList(const std::vector<std::string>& names, size_t limit) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += ", ";
    if (i == limit) return out + "...";
    out += names[i];
  }
  return out;
}

}  // namespace ostrevane
