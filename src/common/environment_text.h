// Values from the environment in texts a user writes: "${NAME}" stands for
// the environment variable NAME, "${file:PATH}" for the content of the file
// PATH without its final line end (a Kubernetes Secret or a systemd
// credential), and "$${" for a literal "${". Nothing else is special: a "$"
// without "{" stays as it is.
//
// The messages of these functions never hold an expanded value: they name
// the variable or the file, and the reference as written.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

// The longest file "${file:...}" reads: a secret, not a data file (and not
// /dev/zero).
inline constexpr size_t kSecretFileLimit = 64 * 1024;

// `text` with every reference replaced. Throws Exception for an unset
// variable ("the environment variable NAME is not set (${NAME})"), a file
// that cannot be read, is larger than kSecretFileLimit or holds a NUL
// byte, a name that is no variable name, and a "${" without its "}".
std::string ExpandEnvironment(std::string_view text);

// Whether `text` holds a reference (or a "$${") that ExpandEnvironment
// would replace.
bool HasEnvironmentReference(std::string_view text);

// Throws what ExpandEnvironment(text) would throw; the values are read and
// dropped. For texts that are kept as written and expanded only where they
// are used, so that a mistake still shows when the list is read.
void CheckEnvironmentReferences(std::string_view text);

}  // namespace ostrevane
