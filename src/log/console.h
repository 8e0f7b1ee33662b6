// The console (standard output, UTF-8, "\n"). One mutex serialises every
// write, so a worker's progress dot never lands inside a line that the
// main thread is writing.
#pragma once

#include <string_view>

namespace ostrevane {

// Writes the text and a line end. Throws Error(kEWriteError) when standard
// output cannot be written.
void ConsoleLine(std::string_view text);
// Writes "." without a line end and flushes at once.
void ConsoleDot();

}  // namespace ostrevane
