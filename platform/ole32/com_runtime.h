// Pieces of the component runtime that its source files share.
#pragma once

#include <objbase.h>

#include <optional>
#include <string>

namespace qb::platform::com {

// True when the calling thread may use COM: it entered an apartment, or some thread of the
// process is in the multithreaded apartment (which then takes in every thread, as on Windows).
bool ApartmentAvailable();

// The class object of a class built into the platform, or null.
IClassFactory* BuiltInClassObject(REFCLSID clsid);

// The string (REG_SZ or REG_EXPAND_SZ, the latter expanded) value `name` (null: default) of
// HKEY_CLASSES_ROOT\path, without its terminator.
std::optional<std::u16string> ReadClassesString(const std::u16string& path, const char16_t* name = nullptr);

// A programmatic identifier: not empty, no backslash (it names one key below HKEY_CLASSES_ROOT).
bool IsProgIdText(LPCOLESTR text);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::u16string GuidText(REFGUID guid);

}  // namespace qb::platform::com

namespace qb::platform {
bool ParseGuidText(LPCOLESTR text, GUID& guid);
}
