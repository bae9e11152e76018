// Finding a registered type library's file: QueryPathOfRegTypeLib.
#include "ole32/com_runtime.h"
#include "typelib_registry.h"
#include "common/boundary.h"

#include <oleauto.h>

#include <windows.h>
#include <vector>

namespace qb::platform::typelib {
namespace {

std::optional<std::pair<unsigned, unsigned>> ParseVersion(const std::u16string& text) {
  unsigned major = 0;
  unsigned minor = 0;
  std::size_t at = 0;
  auto hex = [&](unsigned& value) {
    const std::size_t start = at;
    for (; at < text.size(); ++at) {
      const char16_t c = text[at];
      const int digit = (c >= u'0' && c <= u'9') ? c - u'0'
                        : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                        : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                                   : -1;
      if (digit < 0 || value > 0xFFFF) break;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return at > start;
  };
  if (!hex(major) || at >= text.size() || text[at++] != u'.' || !hex(minor) || at != text.size()) return std::nullopt;
  return std::make_pair(major, minor);
}

// The exact version, or else the highest minor version of the same major that is not older.
std::optional<std::u16string> FindVersionKey(const std::u16string& libraryKey, USHORT major, USHORT minor) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  std::optional<std::u16string> best;
  unsigned bestMinor = 0;
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD units = 256;
    if (RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::u16string text(name, units);
    auto version = ParseVersion(text);
    if (!version || version->first != major || version->second < minor) continue;
    if (version->second == minor) {
      best = text;
      break;
    }
    if (!best || version->second > bestMinor) {
      best = text;
      bestMinor = version->second;
    }
  }
  RegCloseKey(key);
  return best;
}

}  // namespace

std::optional<std::u16string> RegisteredPath(REFGUID libId, USHORT major, USHORT minor, LCID lcid) {
  const std::u16string libraryKey = u"TypeLib\\" + com::GuidText(libId);
  auto version = FindVersionKey(libraryKey, major, minor);
  if (!version) return std::nullopt;
  const std::u16string versionKey = libraryKey + u"\\" + *version;
  // The exact locale, then its language alone, then the neutral locale; 64-bit entries first.
  std::vector<LCID> locales{lcid};
  if ((lcid & 0x3FF) != lcid) locales.push_back(lcid & 0x3FF);
  if (lcid != 0) locales.push_back(0);
  for (LCID locale : locales)
    for (SYSKIND system : {SYS_WIN64, SYS_WIN32})
      if (auto path = com::ReadClassesString(versionKey + u"\\" + HexText(locale) + u"\\" + SysKindName(system)))
        return path;
  return std::nullopt;
}

}  // namespace qb::platform::typelib

extern "C" HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID libId, USHORT major, USHORT minor, LCID lcid, BSTR* path) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (path == nullptr) return E_INVALIDARG;
    *path = nullptr;
    auto found = qb::platform::typelib::RegisteredPath(libId, major, minor, lcid);
    if (!found) return TYPE_E_LIBNOTREGISTERED;
    *path = SysAllocStringLen(found->data(), static_cast<UINT>(found->size()));
    return *path != nullptr ? S_OK : E_OUTOFMEMORY;
  });
}
