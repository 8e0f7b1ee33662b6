// Report template text as the template language reads it, before the engine
// parses it: the tags in order (following delimiter changes), the depth of
// nested sections, and standalone comment and set-delimiter lines.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane::delivery {

// The deepest nesting of sections in a template. Measured before the engine
// parses: its parser and renderer recurse once per level.
int SectionDepth(std::string_view text);

// The template with every standalone comment tag and set-delimiter tag
// freed of its line: a line that holds only such a tag and blanks (spaces,
// tabs) loses its blanks and its line end, and a comment tag goes with
// them; a set-delimiter tag stays, so that the engine still changes the
// delimiters. The engine keeps those lines, which the template language
// says vanish; sections and inverted sections it treats right itself.
std::string RemoveStandaloneTagLines(std::string_view text);

}  // namespace ostrevane::delivery
