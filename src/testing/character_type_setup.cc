// The test program runs with the character type that the program gives
// itself at its start (app/entry.cc), so that the database backends meet
// their drivers in tests as they do in a run. It is set while the process
// still has one thread, before main.
#include "common/character_type.h"

namespace {

[[maybe_unused]] const bool kCharacterTypeUtf8 = ostrevane::MakeCharacterTypeUtf8();

}  // namespace
