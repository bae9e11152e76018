// ITypeLib and ITypeInfo2 over a checked library model.
#pragma once

#include "typelib_model.h"

#include <atomic>

namespace qb::platform::typelib {

class TypeLibObject;

// One type description of a library. Its references are the library's: a type information
// keeps its library, and so every description it handed out, alive.
class TypeInfoObject final : public ITypeInfo2 {
 public:
  TypeInfoObject(TypeLibObject& owner, UINT index) : owner_(owner), index_(index) {}

  const TypeInfoData& data() const;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // ITypeInfo
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                        WORD* pwOrdinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;
  // ITypeInfo2
  HRESULT STDMETHODCALLTYPE GetTypeKind(TYPEKIND* pTypeKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeFlags(ULONG* pTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) override;
  HRESULT STDMETHODCALLTYPE GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) override;
  HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid, VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation2(MEMBERID memid, LCID lcid, BSTR* pbstrHelpString,
                                              DWORD* pdwHelpStringContext, BSTR* pbstrHelpStringDll) override;
  HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllFuncCustData(UINT index, CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllVarCustData(UINT index, CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) override;

 private:
  TypeLibObject& owner_;
  UINT index_;
};

class TypeLibObject final : public ITypeLib {
 public:
  // Takes the checked model; the object starts with one reference, the caller's.
  explicit TypeLibObject(std::unique_ptr<Library> library);
  TypeLibObject(const TypeLibObject&) = delete;
  TypeLibObject& operator=(const TypeLibObject&) = delete;

  const Library& library() const { return *library_; }
  TypeInfoObject& info(UINT index) { return *infos_[index]; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                     USHORT* pcFound) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

 private:
  ~TypeLibObject() = default;

  std::atomic<ULONG> refs_{1};
  std::unique_ptr<Library> library_;
  std::vector<std::unique_ptr<TypeInfoObject>> infos_;
};

// Calls one function of an interface through its vtable slot, with the arguments of a dispatch
// call checked and converted to the function's parameter types (invoke.cpp).
HRESULT InvokeFunction(const Library& library, const Function& function, void* instance, WORD flags,
                       DISPPARAMS* params, VARIANT* result, UINT* argError);

}  // namespace qb::platform::typelib
