#include "writers/unique_names.h"

#include <unordered_map>
#include <unordered_set>

namespace ostrevane {

void NumberRepeatedNames(std::vector<std::string>& names,
                         const std::vector<std::string_view>* shared_by) {
  // A number is added only where no entry's own name is taken.
  std::unordered_set<std::string> taken(names.begin(), names.end());
  std::unordered_set<std::string> given;
  std::unordered_map<std::string_view, size_t> first_of;  // a shared text's first index
  for (size_t i = 0; i < names.size(); ++i) {
    if (shared_by && !(*shared_by)[i].empty()) {
      const auto [it, fresh] = first_of.emplace((*shared_by)[i], i);
      if (!fresh) {
        names[i] = names[it->second];
        continue;
      }
    }
    if (given.insert(names[i]).second) continue;
    for (int n = 2;; ++n) {
      std::string numbered = names[i] + std::to_string(n);
      if (taken.insert(numbered).second) {
        names[i] = std::move(numbered);
        given.insert(names[i]);
        break;
      }
    }
  }
}

}  // namespace ostrevane
