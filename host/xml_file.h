// XML documents as files hold them: bytes in the encoding their XML declaration names (UTF-8 when
// none does), turned into the UTF-16 text the component takes, and back.
#pragma once

#include "common/bstr_owner.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillbox::host {

class EncodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The encoding named by the XML declaration at the start of `text` (read as ASCII), or "".
std::string DeclaredEncoding(std::string_view text);
std::string DeclaredEncoding(std::u16string_view text);

// Decodes a file's bytes. A byte-order mark decides first (and is dropped); then the declaration.
// Throws EncodingError for an encoding that cannot be read or bytes that are not valid in it.
std::u16string DecodeXmlBytes(std::string_view bytes);
// The same, decoded straight into the BSTR the component is handed: a large document is held
// once in UTF-16, not once in a string and again in its copy.
UniqueBstr DecodeXmlBytesToBstr(std::string_view bytes);

// Encodes XML text in the encoding its own declaration names. A character the encoding cannot
// hold is written as a character reference, as XML serialisers do.
std::string EncodeXmlText(std::u16string_view text);

}  // namespace quillbox::host
