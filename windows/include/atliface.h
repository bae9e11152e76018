// The ATL registrar's interfaces and identifiers, as ATL's atliface.h declares them; mingw-w64
// ships no ATL. The registrar itself is the system's: CoCreateInstance(CLSID_Registrar) reaches
// the one that atl.dll registers. The identifiers are defined here, once per module however many
// sources include this header (selectany), since there is no ATL library to link them from.
#pragma once

#include <windows.h>
#include <objbase.h>

extern "C" {
__declspec(selectany) extern const CLSID CLSID_Registrar = {
    0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};
__declspec(selectany) extern const IID IID_IRegistrarBase = {
    0xE21F8A85, 0xB05D, 0x4243, {0x81, 0x83, 0xC7, 0xCB, 0x40, 0x55, 0x88, 0xF7}};
__declspec(selectany) extern const IID IID_IRegistrar = {
    0x44EC053B, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};
}

struct IRegistrarBase : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
};

struct IRegistrar : public IRegistrarBase {
  virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
};
