// Text inside the XML files: attribute values, CDATA sections, field names
// and binary values. All keep the document well-formed: in attribute values
// and CDATA sections, characters that XML 1.0 does not allow (C0 controls
// other than TAB, CR and LF; U+FFFE, U+FFFF) and bytes that are no valid
// UTF-8 are written as U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// A field name as an XML name (attribute or element name) that every
// parser reads: each character outside the name characters of
// writers/xml_name_chars.h (a space, a leading digit, a colon, a character
// outside the Basic Multilingual Plane, ...) is written as "_xHHHH_", its
// UTF-16 code unit(s) in hex (upper case), and a "_" that would start such
// a sequence as "_x005F_", so the true name can be recovered. The "x" of
// "xmlns" and "xmlns:..." is escaped too (they would declare a namespace).
// An empty name is "_".
std::string XmlName(std::string_view name);

// The XML names of a record's fields, in field order: XmlName of each, made
// unique. Fields of the same name share one XML name (the later value of an
// attribute takes the earlier one's place). Where a field's name comes out
// as the XML name of an earlier field with another name (an empty name and
// "_", or two empty names), the later one gets the smallest number from 2
// on added that no other field's XML name has: "_", "_2", "_3".
std::vector<std::string> XmlFieldNames(const std::vector<std::string_view>& names);

// A binary value as a record's child element `name`: "<name>", a CDATA
// section of the bytes as Windows-1252 characters (AppendCdata), "</name>".
// XML cannot carry the control bytes 00-08, 0B, 0C and 0E-1F in any form,
// so a value holding one is written whole in base64 instead, which gives
// its bytes back: <name ENCODING="base64">AAEC</name>.
void AppendBinaryElement(std::string& out, std::string_view name, std::string_view bytes);

}  // namespace ostrevane
