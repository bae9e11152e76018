// Registration of type libraries under HKEY_CLASSES_ROOT\TypeLib, and of the interfaces they
// describe under HKEY_CLASSES_ROOT\Interface:
//
//   TypeLib\{libid}\{major}.{minor}            = help string   (versions and locales in hex)
//   TypeLib\{libid}\{major}.{minor}\{lcid}\win32 = full path
//   TypeLib\{libid}\{major}.{minor}\FLAGS      = library flags (decimal)
//   TypeLib\{libid}\{major}.{minor}\HELPDIR    = help directory
//   Interface\{iid}                           = interface name
//   Interface\{iid}\ProxyStubClsid(32)        = the Automation marshaller
//   Interface\{iid}\TypeLib                   = {libid}, Version = "{major}.{minor}"
#include "ole32/com_runtime.h"
// The registry's own transaction: every key of a registration is written, or none is. The public
// Reg* calls have no transaction to offer (Windows' transacted registry is not provided here).
#include "advapi32/registry_store.h"
#include "typelib_registry.h"
#include "common/boundary.h"

#include <oaidl.h>
#include <oleauto.h>

#include <cstdio>

namespace qb::platform::typelib {
namespace {

// The Automation marshallers: for dual and oleautomation interfaces, and for pure dispinterfaces.
constexpr GUID kPSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kPSDispatch = {0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class Bstr {
 public:
  ~Bstr() { SysFreeString(text_); }
  BSTR* out() { return &text_; }
  std::u16string str() const { return text_ != nullptr ? std::u16string(text_, SysStringLen(text_)) : u""; }
  bool empty() const { return text_ == nullptr || SysStringLen(text_) == 0; }

 private:
  BSTR text_ = nullptr;
};

template <typename T>
class Ref {
 public:
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  T* operator->() const { return p_; }
  T** out() { return &p_; }

 private:
  T* p_ = nullptr;
};

class RegistryWriter {
 public:
  LSTATUS Set(const std::u16string& path, const char16_t* name, const std::u16string& value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                     nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return status;
  }
};

HRESULT RegisterInterface(ITypeInfo* info, TYPEKIND kind, const std::u16string& libid, const std::u16string& version,
                          RegistryWriter& writer) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return S_OK;
  const bool automation = (attributes->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
  const GUID iid = attributes->guid;
  info->ReleaseTypeAttr(attributes);
  if (kind != TKIND_DISPATCH && !(kind == TKIND_INTERFACE && automation)) return S_OK;

  Bstr name;
  info->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
  const std::u16string key = u"Interface\\" + com::GuidText(iid);
  const std::u16string proxy = com::GuidText(automation ? kPSOAInterface : kPSDispatch);
  if (writer.Set(key, nullptr, name.str()) != ERROR_SUCCESS ||
      writer.Set(key + u"\\ProxyStubClsid", nullptr, proxy) != ERROR_SUCCESS ||
      writer.Set(key + u"\\ProxyStubClsid32", nullptr, proxy) != ERROR_SUCCESS ||
      writer.Set(key + u"\\TypeLib", nullptr, libid) != ERROR_SUCCESS ||
      writer.Set(key + u"\\TypeLib", u"Version", version) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  return S_OK;
}

HRESULT Register(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  TLIBATTR* attributes = nullptr;
  if (HRESULT got = library->GetLibAttr(&attributes); FAILED(got) || attributes == nullptr)
    return FAILED(got) ? got : E_FAIL;
  const TLIBATTR attr = *attributes;
  library->ReleaseTLibAttr(attributes);

  Bstr name;
  Bstr help;
  library->GetDocumentation(-1, name.out(), help.out(), nullptr, nullptr);
  const std::u16string libid = com::GuidText(attr.guid);
  const std::u16string version = VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
  const std::u16string versionKey = u"TypeLib\\" + libid + u"\\" + version;
  RegistryWriter writer;
  if (writer.Set(versionKey, nullptr, help.empty() ? name.str() : help.str()) != ERROR_SUCCESS ||
      writer.Set(versionKey + u"\\" + HexText(attr.lcid) + u"\\" + SysKindName(attr.syskind), nullptr, fullPath) !=
          ERROR_SUCCESS ||
      writer.Set(versionKey + u"\\FLAGS", nullptr, DecimalText(attr.wLibFlags)) != ERROR_SUCCESS ||
      writer.Set(versionKey + u"\\HELPDIR", nullptr, helpDir != nullptr ? helpDir : u"") != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;

  const UINT count = library->GetTypeInfoCount();
  for (UINT index = 0; index < count; ++index) {
    TYPEKIND kind{};
    if (FAILED(library->GetTypeInfoType(index, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH)) continue;
    Ref<ITypeInfo> info;
    if (FAILED(library->GetTypeInfo(index, info.out()))) continue;
    if (HRESULT result = RegisterInterface(info.operator->(), kind, libid, version, writer); FAILED(result))
      return result;
  }
  return S_OK;
}

}  // namespace

std::u16string HexText(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string DecimalText(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string VersionText(WORD major, WORD minor) { return HexText(major) + u"." + HexText(minor); }

const char16_t* SysKindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return u"win16";
    case SYS_MAC:
      return u"mac";
    case SYS_WIN64:
      return u"win64";
    default:
      return u"win32";
  }
}

}  // namespace qb::platform::typelib

extern "C" HRESULT WINAPI RegisterTypeLib(ITypeLib* typeLib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (typeLib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  // All entries or none: one registry transaction around the whole registration.
  return quillbox::HresultBoundary([&]() -> HRESULT {
    try {
      qb::platform::registry::Transaction transaction(qb::platform::registry::Transaction::Mode::Write);
      if (transaction.status() != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
      const HRESULT result = qb::platform::typelib::Register(typeLib, fullPath, helpDir);
      if (FAILED(result)) return result;
      return transaction.Commit() == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
    } catch (const qb::platform::registry::StoreError&) {
      return TYPE_E_REGISTRYACCESS;
    }
  });
}
