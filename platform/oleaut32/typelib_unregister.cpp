// UnRegisterTypeLib: removes what RegisterTypeLib wrote for one version, locale and target system,
// and the parts above them that nothing else uses any more.
#include "ole32/com_runtime.h"
// The registry's own transaction: every key of a registration is written, or none is. The public
// Reg* calls have no transaction to offer (Windows' transacted registry is not provided here).
#include "advapi32/registry_store.h"
#include "typelib_registry.h"
#include "common/boundary.h"
#include "shared/case_folding.h"

#include <oleauto.h>

#include <vector>

namespace qb::platform::typelib {
namespace {

std::vector<std::u16string> SubKeyNames(const std::u16string& path) {
  std::vector<std::u16string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD units = 256;
    if (RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, units);
  }
  RegCloseKey(key);
  return names;
}

bool IsEmptyKey(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subKeys = 0;
  DWORD values = 0;
  const LSTATUS status =
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && subKeys == 0 && values == 0;
}

bool SameText(const std::optional<std::u16string>& a, const std::u16string& b) {
  return a && FoldName(*a) == FoldName(b);
}

HRESULT Unregister(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  const std::u16string libid = com::GuidText(libId);
  const std::u16string version = VersionText(major, minor);
  const std::u16string libraryKey = u"TypeLib\\" + libid;
  const std::u16string versionKey = libraryKey + u"\\" + version;
  const std::u16string localeKey = versionKey + u"\\" + HexText(lcid);
  const std::u16string systemKey = localeKey + u"\\" + SysKindName(syskind);
  if (!com::ReadClassesString(systemKey)) return TYPE_E_REGISTRYACCESS;

  // The interfaces that name this library and version as theirs.
  for (const std::u16string& iid : SubKeyNames(u"Interface")) {
    const std::u16string interfaceKey = u"Interface\\" + iid;
    if (SameText(com::ReadClassesString(interfaceKey + u"\\TypeLib"), libid) &&
        SameText(com::ReadClassesString(interfaceKey + u"\\TypeLib", u"Version"), version))
      RegDeleteTreeW(HKEY_CLASSES_ROOT, interfaceKey.c_str());
  }

  if (RegDeleteTreeW(HKEY_CLASSES_ROOT, systemKey.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  if (IsEmptyKey(localeKey)) RegDeleteKeyW(HKEY_CLASSES_ROOT, localeKey.c_str());
  bool otherLocales = false;
  for (const std::u16string& name : SubKeyNames(versionKey)) {
    const std::u16string folded = FoldName(name);
    if (folded != u"FLAGS" && folded != u"HELPDIR") otherLocales = true;
  }
  if (!otherLocales) RegDeleteTreeW(HKEY_CLASSES_ROOT, versionKey.c_str());
  if (SubKeyNames(libraryKey).empty()) RegDeleteTreeW(HKEY_CLASSES_ROOT, libraryKey.c_str());
  return S_OK;
}

}  // namespace
}  // namespace qb::platform::typelib

extern "C" HRESULT WINAPI UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    try {
      qb::platform::registry::Transaction transaction(qb::platform::registry::Transaction::Mode::Write);
      if (transaction.status() != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
      const HRESULT result = qb::platform::typelib::Unregister(libId, major, minor, lcid, syskind);
      if (FAILED(result)) return result;
      return transaction.Commit() == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
    } catch (const qb::platform::registry::StoreError&) {
      return TYPE_E_REGISTRYACCESS;
    }
  });
}
