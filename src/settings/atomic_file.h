// Whole-file replacement that a crash or a concurrent reader never sees half
// done: the new content goes to a temporary file in the same folder, which
// is then renamed over the old one.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace ostrevane {

// Replaces (or creates) `path` with exactly `bytes`. An existing file keeps
// its permission bits and, where the process may set it, its owner; a new
// file gets `new_file_mode`. A symbolic link is followed and its target
// replaced. An existing file without any write permission bit, or one the
// process may not write, is read-only and is not replaced. Returns false
// (leaving the old file as it was and no temporary file behind) on failure.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           mode_t new_file_mode);

}  // namespace ostrevane
