// Reading single attributes back out of a name in the X.500 text form that CertNameToStrA writes
// ("CN=Ana Novak, O=Quillbox, C=SI"; values holding a separator in double quotes, a quote inside
// doubled), so that a row can show a person's name rather than a whole distinguished name.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb::cryptdlg {

// The name's attributes as (key, value) pairs in the order written, quotes removed.
std::vector<std::pair<std::string, std::string>> NameAttributes(std::string_view text);

// The value of the first attribute among `keys` (tried in that order, keys compared without
// regard to case) that the name holds with a non-empty value; empty when there is none.
std::string FirstAttribute(std::string_view text, std::initializer_list<std::string_view> keys);

}  // namespace qb::cryptdlg
