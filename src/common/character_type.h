// The process's character type (LC_CTYPE). Some database drivers turn text
// into bytes, and bytes into text, with it: under the C locale that cron,
// systemd services and most containers give a process, they fail on or
// lose every character outside ASCII. The program therefore runs with a
// UTF-8 character type whatever its environment says, while the categories
// that choose formats and messages stay as the environment set them.
#pragma once

namespace ostrevane {

// Switches LC_CTYPE to a UTF-8 locale (C.UTF-8, else en_US.UTF-8) when the
// one in force uses another code set, and makes the environment name it,
// for libraries that set their own character type from the environment
// (setlocale(LC_CTYPE, ""), as the PostgreSQL ODBC driver does when it
// connects): an LC_ALL that would override LC_CTYPE gives its value to
// each other category's variable instead and goes. The other categories
// keep their locales. setlocale and setenv are not thread-safe: call it
// before other threads start. Returns whether the character type is UTF-8
// afterwards.
bool MakeCharacterTypeUtf8();

// Whether the process's character type is UTF-8 (its code set).
bool CharacterTypeIsUtf8();

}  // namespace ostrevane
