// Text between the three forms the host handles: UTF-8 (files, arguments, the console), UTF-16
// (BSTRs, as the component sees text) and Duktape's internal string bytes.
#pragma once

#include "common/bstr_owner.h"

#include <oleauto.h>

#include <string>
#include <string_view>

namespace quillbox::host {

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Duktape keeps strings as CESU-8 (a surrogate pair is two three-byte sequences) but also accepts
// four-byte UTF-8 from C code; both decode here to the UTF-16 units a script sees.
std::u16string DukToUtf16(std::string_view bytes);
// Encodes UTF-16 units one by one, so that a string's JavaScript length equals its UTF-16 length,
// as in the engines of the component's era; NUL units are kept.
std::string Utf16ToDuk(std::u16string_view text);

// The whole stored length of a BSTR; null reads as empty.
std::u16string_view BstrView(BSTR text);

}  // namespace quillbox::host
