// Writes JSON for the browser. The output is always ASCII: every unit outside printable ASCII,
// controls, U+0000 and unpaired surrogates included, is written as a \uXXXX escape, so that no
// UTF-16 string is ever forced through UTF-8 and the browser rebuilds exactly the units sent.
#pragma once

#include "common/json_value.h"

#include <string>
#include <string_view>

namespace quillbox {

std::string WriteJson(const JsonValue& value);
// Appends `text` as a quoted JSON string.
void AppendJsonString(std::string& out, std::u16string_view text);

}  // namespace quillbox
