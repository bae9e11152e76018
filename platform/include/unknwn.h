// IUnknown and IClassFactory. Interfaces are pure abstract structs with no data and no virtual
// destructor, declared in slot order: GCC's Itanium vtable for such a struct is COM's vtable.
#pragma once

#include "windef.h"
#include "winerror.h"

extern "C" QB_PLATFORM_API const IID IID_IUnknown;
extern "C" QB_PLATFORM_API const IID IID_IClassFactory;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};
using LPCLASSFACTORY = IClassFactory*;
