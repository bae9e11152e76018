// An IDispatch without type information, for exercising the script host's dispatch glue: a
// string property "Text", an integer property "Number", a method "Join(a, b)" and a method
// "Fail()" that raises an exception. It records the last call's flags and arguments.
#pragma once

#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace quillbox::host::test {

class FakeDispatch final : public IDispatch {
 public:
  static constexpr DISPID kText = 1, kNumber = 2, kJoin = 3, kFail = 4;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) {
      const std::u16string name = names[i];
      if (name == u"Text") ids[i] = kText;
      else if (name == u"Number") ids[i] = kNumber;
      else if (name == u"Join") ids[i] = kJoin;
      else if (name == u"Fail") ids[i] = kFail;
      else return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    lastFlags = flags;
    lastNamedPut = params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    ClearArguments();
    for (UINT i = params->cArgs; i > 0; --i) {
      VARIANT copy;
      VariantInit(&copy);
      VariantCopy(&copy, &params->rgvarg[i - 1]);
      lastArguments.push_back(copy);
    }
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    switch (id) {
      case kText:
        if (put) {
          if (params->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
          text.assign(params->rgvarg[0].bstrVal, SysStringLen(params->rgvarg[0].bstrVal));
          return S_OK;
        }
        result->vt = VT_BSTR;
        result->bstrVal = nullBstr ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return S_OK;
      case kNumber:
        if (put) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_UI4;
        result->ulVal = 4294967295u;
        return S_OK;
      case kJoin:
        if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(u"joined");
        return S_OK;
      case kFail:
        if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
        exception->bstrDescription = SysAllocString(u"it went wrong");
        exception->scode = E_FAIL;
        return DISP_E_EXCEPTION;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  ~FakeDispatch() { ClearArguments(); }
  void ClearArguments() {
    for (VARIANT& v : lastArguments) VariantClear(&v);
    lastArguments.clear();
  }

  ULONG references = 1;
  std::u16string text = u"initial";
  bool nullBstr = false;
  WORD lastFlags = 0;
  bool lastNamedPut = false;
  std::vector<VARIANT> lastArguments;
};

}  // namespace quillbox::host::test
