// Text inside the XML files: attribute values and CDATA sections. Both keep
// the document well-formed: characters that XML 1.0 does not allow (C0
// controls other than TAB, CR and LF; U+FFFE, U+FFFF) and bytes that are no
// valid UTF-8 are written as U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

// "&" "<" ">" and the double quote as "&amp;" "&lt;" "&gt;" "&quot;"; CR,
// LF and TAB as "&#13;" "&#10;" "&#9;" so that parsers keep them; the
// apostrophe and everything else as it is.
void AppendXmlAttributeText(std::string& out, std::string_view text);

// "<![CDATA[" text "]]>"; a "]]>" inside is split after its first "]" into
// two sections ("a]]>b" gives "<![CDATA[a]]]><![CDATA[]>b]]>").
void AppendCdata(std::string& out, std::string_view text);

}  // namespace ostrevane
