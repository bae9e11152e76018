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

// Whether every character of the UTF-8 text can stand in an XML 1.0 document. Control characters
// other than tab, line feed and carriage return (and U+FFFE, U+FFFF) cannot: written into the
// signature they would make the signed document one that no XML parser accepts.
bool IsXmlText(std::string_view utf8);

}  // namespace quillbox
