// Field names made unique for a format whose records may not hold one name
// twice (XML attributes, JSON object keys).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// Numbers, in place, every name of `names` that an earlier one already
// has: it gets the smallest number from 2 on appended that makes a name no
// other entry has ("_", "_2", "_3"; "id", "id2"). With `shared_by`
// (one text per name), entries whose texts there are equal and not empty
// keep the first such entry's name instead of a number.
void NumberRepeatedNames(std::vector<std::string>& names,
                         const std::vector<std::string_view>* shared_by = nullptr);

}  // namespace ostrevane
