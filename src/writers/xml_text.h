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
// two sections ("a]]>b" gives "<![CDATA[a]]]><![CDATA[]>b]]>"). A CR goes
// between two sections as "&#13;": parsers turn a raw CR into LF, even in
// CDATA, and the reference keeps it.
void AppendCdata(std::string& out, std::string_view text);

// A field name as an XML name (attribute or element name): every character
// that may not stand where it stands (a space, a leading digit, a colon,
// any other non-name character) is written as "_xHHHH_", its UTF-16 code
// unit(s) in hex (upper case), and a "_" that would start such a sequence
// as "_x005F_", so the true name can be recovered. An empty name is "_".
std::string XmlName(std::string_view name);

}  // namespace ostrevane
