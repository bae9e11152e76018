// The process-wide type information of ISignature that dispatch calls are served from, with a
// cache of member names so that a script that spells a name as declared never reaches the type
// information for it.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace quillbox {

// Loads the registered type library on first use; S_OK, or the failure of the load (nothing is
// cached on failure, so the next call tries again).
HRESULT EnsureTypeInfo(LCID lcid);
// The cached type information with one added reference; call EnsureTypeInfo first.
ITypeInfo* CachedTypeInfo();
// Resolves names from the cache, falling back to the type information's own (case-insensitive)
// lookup one name at a time.
HRESULT ResolveNames(LPOLESTR* names, UINT count, DISPID* ids);

}  // namespace quillbox
