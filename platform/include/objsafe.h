// IObjectSafety: how a control tells a browser it is safe for scripting.
#pragma once

#include "unknwn.h"

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002
#define INTERFACE_USES_DISPEX 0x00000004
#define INTERFACE_USES_SECURITY_MANAGER 0x00000008

extern "C" QB_PLATFORM_API const IID IID_IObjectSafety;

struct IObjectSafety : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* supportedOptions,
                                                              DWORD* enabledOptions) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD optionSetMask,
                                                              DWORD enabledOptions) = 0;
};
