// Reading JSON Lines files back with readers no one here wrote.
#pragma once

#include <string>
#include <vector>

namespace ostrevane::testing {

// Reads each JSON Lines file of `paths` with Python's json module (one
// document per line, every line ended by LF, UTF-8) and with jq; "" when
// both read every line, else what they reported. A tool that is not
// installed is left out.
std::string JsonLinesProblems(const std::vector<std::string>& paths);

}  // namespace ostrevane::testing
