// The registrar: executes registry scripts (the text form in which a module describes its
// registry entries), with %NAME% replacements. Part of the platform, as atl.dll is part of
// Windows: CoCreateInstance(CLSID_Registrar) works without any registry entry.
#pragma once

#include "objbase.h"

extern "C" QB_PLATFORM_API const CLSID CLSID_Registrar;
extern "C" QB_PLATFORM_API const IID IID_IRegistrarBase;
extern "C" QB_PLATFORM_API const IID IID_IRegistrar;

struct IRegistrarBase : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
};

// Every operation returns S_OK, DISP_E_EXCEPTION for a malformed script or an unknown
// replacement, or the failure (as an HRESULT) of reading the script or of the registry.
struct IRegistrar : IRegistrarBase {
  virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR resourceFile, LPCOLESTR id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR resourceFile, LPCOLESTR id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR resourceFile, UINT id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR resourceFile, UINT id, LPCOLESTR type) = 0;
};

