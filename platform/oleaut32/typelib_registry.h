// The text forms of type-library registration keys, shared by registering, unregistering and
// looking up.
#pragma once

#include <oaidl.h>

#include <optional>
#include <string>

namespace qb::platform::typelib {

std::u16string HexText(std::uint32_t value);
std::u16string DecimalText(std::uint32_t value);
// "{major}.{minor}" in hexadecimal, as the version keys are named.
std::u16string VersionText(WORD major, WORD minor);
const char16_t* SysKindName(SYSKIND kind);

// The file registered for the library: the exact version or the newest compatible minor one, the
// exact locale, its language, or the neutral one.
std::optional<std::u16string> RegisteredPath(REFGUID libId, USHORT major, USHORT minor, LCID lcid);

}  // namespace qb::platform::typelib
