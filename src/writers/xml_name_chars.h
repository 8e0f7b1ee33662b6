// The characters that XML names may hold in every XML 1.0 parser: the
// name characters of the Fourth Edition (letters, digits, combining
// characters and extenders, all in the Basic Multilingual Plane). Later
// editions allow more, but Expat and other readers still keep to these.
#pragma once

namespace ostrevane {

// A character that may start a name: a letter or "_" (":" is left out: it
// would make a namespace prefix).
bool IsXmlNameStartChar(char32_t c);

// A character that may stand later in a name: a start character, a digit,
// a combining character, an extender, "." or "-".
bool IsXmlNameChar(char32_t c);

}  // namespace ostrevane
