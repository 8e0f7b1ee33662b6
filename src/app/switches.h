// Commands on the command line: parameters that start with "-" or "/".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// The first parameter that starts with "-" or "/" followed by `name` (ASCII
// case folded; more characters may follow) gives the command. Its value is
// the rest of that parameter after the name, one ":" directly after the
// name skipped; when nothing follows the name, the next parameter unless it
// starts with "-" or "/"; else empty. Returns whether the command is given.
bool FindSwitch(const std::vector<std::string>& args, std::string_view name, std::string& value);

// "-help" or "/help" exactly, ASCII case folded.
bool HasHelpSwitch(const std::vector<std::string>& args);

}  // namespace ostrevane
