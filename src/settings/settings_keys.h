// The sections and keys that settings.ini may hold, and the warnings about
// lines that name none of them: a misspelt key is otherwise ignored without
// a word, and the run goes on with its default.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"

namespace ostrevane {

// Whether the program knows `key` of `section` (names without regard to
// case): every key it reads, including those it only reads when asked
// (Password) or never writes.
bool IsKnownSettingsKey(std::string_view section, std::string_view key);

// One warning per line of `ini` that the program ignores although it looks
// meant: an unknown section, an unknown key of a known section, a key
// before the first section, a line that is no key and no section, and a
// second section or key of a name already given (the first counts). Each
// names the file and the line, and the known name closest to a misspelt
// one, e.g.
//   /etc/ostrevane/settings.ini, line 5: unknown key "thread_cout" in
//   [Ostrevane] (did you mean "thread_count"?); the line is ignored
std::vector<std::string> SettingsFileWarnings(const IniFile& ini);

}  // namespace ostrevane
