// Strings of OLECHAR, the unit of a BSTR: char16_t on Linux, wchar_t on Windows, UTF-16 on both.
// Code that keeps or compares the text of a BSTR uses these, so that the same source builds on
// either platform; literals are written OLESTR("...").
#pragma once

#include <wtypes.h>

#include <string>
#include <string_view>

namespace quillbox {

// The text handling over OLECHAR (surrogate pairs, lengths in units, the 32-bit byte length of a
// BSTR) counts 2-byte UTF-16 units.
static_assert(sizeof(OLECHAR) == 2, "OLECHAR is a UTF-16 unit");

using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

}  // namespace quillbox
