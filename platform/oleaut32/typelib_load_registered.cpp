// LoadRegTypeLib: the registered file of a library, loaded.
#include "typelib_registry.h"
#include "common/boundary.h"

#include <oleauto.h>

extern "C" HRESULT WINAPI LoadRegTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, ITypeLib** typeLib) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (typeLib == nullptr) return E_INVALIDARG;
    *typeLib = nullptr;
    auto path = qb::platform::typelib::RegisteredPath(libId, major, minor, lcid);
    if (!path) return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(path->c_str(), typeLib);
  });
}
