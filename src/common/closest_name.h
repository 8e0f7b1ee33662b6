// The known name that a misspelt one was probably meant to be, for messages
// such as "unknown key thread_cout (did you mean thread_count?)".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// The number of edits (insert, delete or replace one byte, or swap two
// neighbours) that turn `a` into `b`, letters compared without regard to
// case.
size_t NameDistance(std::string_view a, std::string_view b);

// The candidate nearest to `name` by NameDistance when it is near enough to
// be a slip of the keyboard: at most 1 edit for names of up to 4 bytes, 2
// up to 8, else 3; the first of equally near ones. Empty when none is.
std::string ClosestName(std::string_view name, const std::vector<std::string_view>& candidates);

}  // namespace ostrevane
