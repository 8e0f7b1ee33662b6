#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

// Cuts the next token off the front of `source` (shortened in place) up to
// `delimiter`; a part enclosed in `insulator` may hold the delimiter. An
// empty insulator, or the one-character text U+0000, switches quoting off.
// An opening insulator without a closing one raises Exception
// "Can't find 2nd insulator '" + insulator + "':" CR LF + the rest.
std::string CutField(std::string& source, std::string_view delimiter, std::string_view insulator);

// The same over a view: `source` is advanced past the token and its
// delimiter instead of being rewritten, so cutting a long text into many
// tokens costs time linear in its length. On error `source` holds the text
// after the opening insulator.
std::string CutField(std::string_view& source, std::string_view delimiter,
                     std::string_view insulator);

}  // namespace ostrevane
