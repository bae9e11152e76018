// IDispatch of the Signature object: every late-bound call goes through the type information of
// ISignature, which checks and converts the arguments and calls the interface slot.
#include "component/signature.h"
#include "component/type_info_cache.h"

namespace quillbox {

HRESULT Signature::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

// The index is not examined: the object has one type information.
HRESULT Signature::GetTypeInfo(UINT /*iTInfo*/, LCID lcid, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_POINTER;
  *ppTInfo = nullptr;
  const HRESULT hr = EnsureTypeInfo(lcid);
  if (SUCCEEDED(hr)) *ppTInfo = CachedTypeInfo();
  return hr;
}

HRESULT Signature::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) {
  const HRESULT hr = EnsureTypeInfo(lcid);
  if (FAILED(hr)) return hr;
  return ResolveNames(rgszNames, cNames, rgDispId);
}

HRESULT Signature::Invoke(DISPID dispIdMember, REFIID /*riid*/, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                          VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  HRESULT hr = EnsureTypeInfo(lcid);
  if (FAILED(hr)) return hr;
  ITypeInfo* info = CachedTypeInfo();
  hr = info->Invoke(static_cast<ISignature*>(this), dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                    puArgErr);
  info->Release();
  return hr;
}

}  // namespace quillbox
