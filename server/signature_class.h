// Creating Signature objects: plain, or contained in an aggregate whose outer object owns the
// identity.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace quillbox {

// The class table's instance creator. With an outer object only IUnknown may be asked for (the
// class object checks that before calling).
HRESULT CreateSignatureInstance(IUnknown* outer, REFIID riid, void** object);
// The class table's class-object creator: a new class object holding one reference.
HRESULT CreateSignatureClassObject(IUnknown** classObject);

}  // namespace quillbox
