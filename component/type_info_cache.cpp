#include "component/type_info_cache.h"

#include "quillbox_h.h"
#include "component/module_host.h"

#include <oleauto.h>

#include <atomic>
#include <cstring>
#include <new>

namespace quillbox {
namespace {

struct NameEntry {
  BSTR name;
  UINT length;
  DISPID id;
};

// Trivially destructible: it is emptied by the module's termination list, which runs at detach
// after static destructors on Linux.
struct TypeInfoCacheState {
  const IID* iid;
  const GUID* libid;
  WORD major;
  WORD minor;
  ITypeInfo* typeInfo;
  NameEntry* names;
  UINT nameCount;
};

TypeInfoCacheState cache{&IID_ISignature, &LIBID_QUILLBOXLib, 1, 0, nullptr, nullptr, 0};

// The type information is the flag of the double-checked cache: it is stored with release order
// after the name table is built, and a thread that loads it with acquire order sees the table.
std::atomic_ref<ITypeInfo*> PublishedTypeInfo() { return std::atomic_ref<ITypeInfo*>(cache.typeInfo); }

// Safe to run more than once: it is registered on every pass that found the cache empty.
void ReleaseCache(DWORD_PTR) {
  if (ITypeInfo* info = PublishedTypeInfo().exchange(nullptr, std::memory_order_acq_rel)) info->Release();
  if (cache.names != nullptr) {
    for (UINT i = 0; i < cache.nameCount; ++i) SysFreeString(cache.names[i].name);
    delete[] cache.names;
    cache.names = nullptr;
  }
  cache.nameCount = 0;
}

void BuildNameCache(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  const UINT count = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  cache.names = new (std::nothrow) NameEntry[count]();
  if (cache.names == nullptr) return;
  cache.nameCount = count;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* description = nullptr;
    if (FAILED(info->GetFuncDesc(i, &description))) continue;  // an unreadable entry matches no name
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(description->memid, &name, nullptr, nullptr, nullptr)) && name != nullptr) {
      cache.names[i] = NameEntry{name, SysStringLen(name), description->memid};
    }
    info->ReleaseFuncDesc(description);
  }
}

UINT UnitLength(LPCOLESTR text) {
  UINT n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

HRESULT EnsureTypeInfo(LCID lcid) {
  if (PublishedTypeInfo().load(std::memory_order_acquire) != nullptr) return S_OK;
  HRESULT hr = S_OK;
  ModuleHost& host = TheModuleHost();
  EnterCriticalSection(host.TypeInfoLock());
  if (PublishedTypeInfo().load(std::memory_order_relaxed) == nullptr) {
    ITypeLib* library = nullptr;
    hr = LoadRegTypeLib(*cache.libid, cache.major, cache.minor, lcid, &library);
    if (SUCCEEDED(hr)) {
      ITypeInfo* info = nullptr;
      hr = library->GetTypeInfoOfGuid(*cache.iid, &info);
      if (SUCCEEDED(hr)) {
        ITypeInfo2* extended = nullptr;
        if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&extended)))) {
          info->Release();
          info = extended;
        }
        BuildNameCache(info);
        PublishedTypeInfo().store(info, std::memory_order_release);
      }
      library->Release();
    }
  }
  LeaveCriticalSection(host.TypeInfoLock());
  host.AddTermFunc(ReleaseCache, 0);
  return hr;
}

ITypeInfo* CachedTypeInfo() {
  ITypeInfo* info = PublishedTypeInfo().load(std::memory_order_acquire);
  if (info != nullptr) info->AddRef();
  return info;
}

HRESULT ResolveNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) return E_POINTER;
    const UINT length = UnitLength(names[i]);
    bool found = false;
    for (UINT k = cache.nameCount; k-- > 0;) {
      const NameEntry& entry = cache.names[k];
      if (entry.name != nullptr && entry.length == length &&
          std::memcmp(entry.name, names[i], length * sizeof(OLECHAR)) == 0) {
        ids[i] = entry.id;
        found = true;
        break;
      }
    }
    if (found) continue;
    hr = PublishedTypeInfo().load(std::memory_order_acquire)->GetIDsOfNames(&names[i], 1, &ids[i]);
    if (FAILED(hr)) return hr;
  }
  return hr;
}

}  // namespace quillbox
