// IObjectSafety of the Signature object: the run-time declaration that its dispatch interface is
// safe for untrusted callers. The answers, odd as some are, are what browsers have always seen.
#include "component/signature.h"

namespace quillbox {
namespace {

constexpr DWORD kDispatchSupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;

}  // namespace

HRESULT Signature::GetInterfaceSafetyOptions(REFIID riid, DWORD* supportedOptions, DWORD* enabledOptions) {
  if (supportedOptions == nullptr || enabledOptions == nullptr) return E_FAIL;
  IUnknown* answered = nullptr;
  if (InternalQueryInterface(riid, reinterpret_cast<void**>(&answered)) == E_NOINTERFACE) return E_NOINTERFACE;
  answered->Release();
  if (IsEqualIID(riid, IID_IDispatch)) {
    *supportedOptions = kDispatchSupported;
    *enabledOptions = enabledSafetyOptions_ & kDispatchSupported;
    return S_OK;
  }
  *supportedOptions = 0;
  *enabledOptions = 0;
  return E_FAIL;
}

HRESULT Signature::SetInterfaceSafetyOptions(REFIID riid, DWORD optionSetMask, DWORD enabledOptions) {
  if (optionSetMask == 0 && enabledOptions == 0) return E_FAIL;
  IUnknown* answered = nullptr;
  if (InternalQueryInterface(riid, reinterpret_cast<void**>(&answered)) == E_NOINTERFACE) return E_NOINTERFACE;
  answered->Release();
  // Bits are only ever added, for whichever interface the object answered.
  enabledSafetyOptions_ |= optionSetMask & enabledOptions;
  if (IsEqualIID(riid, IID_IDispatch) && (enabledSafetyOptions_ & INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0) return S_OK;
  return E_FAIL;
}

}  // namespace quillbox
