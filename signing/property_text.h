// Text of a signature property (UserName, LocalTimeStamp) as xmlNewChild reads it.
#pragma once

#include <string>
#include <string_view>

namespace quillbox {

// xmlNewChild reads its content as character data with references: "&amp;", "&#233;" and the
// like resolve, but an ampersand that starts no reference makes it drop the rest of the text
// ("Smith & Sons" becomes empty), and a reference to an undeclared or document-declared entity
// becomes an entity-reference node, which either cannot be read back or is left out of the
// canonical form that the signature covers. So every ampersand that does not start a character
// reference to an XML character or a reference to one of the five predefined entities is written
// as "&amp;" and stays the literal character it was.
std::string EscapeBareAmpersands(std::string_view utf8);

// Whether well-formed UTF-8 text holds only characters that an XML document can carry. A control
// character such as U+0001, U+FFFE or U+FFFF written as element content makes a document that no
// parser reads, not even as a character reference.
bool IsXmlCharacterData(std::string_view utf8);

}  // namespace quillbox
