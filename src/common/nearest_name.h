// Suggestions for a misspelt name: the known name it most likely meant.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// The candidate closest to `name` (letter case aside, see case_fold.h),
// counting inserted, removed, replaced and swapped neighbouring bytes, when
// it is close enough to be a slip: one edit for names of 3 to 5 bytes, two
// for 6 to 9, a third of the length beyond. Shorter names get no
// suggestion, and neither does a name with no candidate that close: "".
// Of equally close candidates the first wins.
std::string NearestName(std::string_view name, const std::vector<std::string_view>& candidates);
std::string NearestName(std::string_view name, const std::vector<std::string>& candidates);

// "a, b, c": the names joined, at most `limit` of them, then ", ..." when
// there are more.
std::string NameList(const std::vector<std::string>& names, size_t limit);

}  // namespace ostrevane
