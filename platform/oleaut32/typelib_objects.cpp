// ITypeLib and ITypeInfo2 served from a checked library model.
#include "typelib_objects.h"
#include "common/boundary.h"
#include "shared/case_folding.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qb::platform::typelib {
namespace {

// A BSTR copy of a stored text; null for an absent one. Sets `ok` false when out of memory.
BSTR ToBstr(const Text& text, bool& ok) {
  if (!text) return nullptr;
  BSTR copy = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
  if (copy == nullptr) ok = false;
  return copy;
}

// Fills the optional out-parameters of GetDocumentation; all or none.
HRESULT Document(const Text& name, const Text& doc, DWORD helpContext, const Text& helpFile, BSTR* pName,
                 BSTR* pDoc, DWORD* pContext, BSTR* pFile) {
  bool ok = true;
  BSTR n = pName ? ToBstr(name, ok) : nullptr;
  BSTR d = pDoc ? ToBstr(doc, ok) : nullptr;
  BSTR f = pFile ? ToBstr(helpFile, ok) : nullptr;
  if (!ok) {
    SysFreeString(n);
    SysFreeString(d);
    SysFreeString(f);
    return E_OUTOFMEMORY;
  }
  if (pName) *pName = n;
  if (pDoc) *pDoc = d;
  if (pContext) *pContext = helpContext;
  if (pFile) *pFile = f;
  return S_OK;
}

std::u16string_view View(LPCOLESTR text) {
  if (text == nullptr) return {};
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return {text, n};
}

HRESULT EmptyCustomData(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  VariantInit(value);
  return S_OK;
}

HRESULT NoCustomData(CUSTDATA* data) {
  if (data == nullptr) return E_INVALIDARG;
  data->cCustData = 0;
  data->prgCustData = nullptr;
  return S_OK;
}

}  // namespace

// --- TypeInfoObject --------------------------------------------------------------------------

const TypeInfoData& TypeInfoObject::data() const { return owner_.library().types[index_]; }

HRESULT TypeInfoObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo || riid == IID_ITypeInfo2) {
    *object = static_cast<ITypeInfo2*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfoObject::AddRef() { return owner_.AddRef(); }
ULONG TypeInfoObject::Release() { return owner_.Release(); }

HRESULT TypeInfoObject::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  // A copy per caller, as the caller may write into it; ReleaseTypeAttr frees it.
  *ppTypeAttr = new (std::nothrow) TYPEATTR(data().attr);
  return *ppTypeAttr != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeInfoObject::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfoObject::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  if (index >= data().functions.size()) return TYPE_E_ELEMENTNOTFOUND;
  // The copy shares the parameter descriptions, which live as long as the library does.
  *ppFuncDesc = new (std::nothrow) FUNCDESC(data().functions[index].desc);
  return *ppFuncDesc != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeInfoObject::GetVarDesc(UINT, VARDESC** ppVarDesc) {
  if (ppVarDesc == nullptr) return E_INVALIDARG;
  *ppVarDesc = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;  // this format holds no variables
}

HRESULT TypeInfoObject::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
    *pcNames = 0;
    for (const Function& f : data().functions) {
      if (f.memid != memid) continue;
      std::vector<const std::u16string*> names{&f.name};
      for (const Param& p : f.params) {
        if (!p.name) break;  // names stop at the first parameter without one (a setter's value)
        names.push_back(&*p.name);
      }
      UINT count = 0;
      for (const std::u16string* name : names) {
        if (count >= cMaxNames) break;
        rgBstrNames[count] = SysAllocStringLen(name->data(), static_cast<UINT>(name->size()));
        if (rgBstrNames[count] == nullptr) {
          for (UINT k = 0; k < count; ++k) SysFreeString(rgBstrNames[k]);
          return E_OUTOFMEMORY;
        }
        ++count;
      }
      *pcNames = count;
      return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
  });
}

HRESULT TypeInfoObject::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  if (index >= data().implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = data().implTypes[index].reference;
  return S_OK;
}

HRESULT TypeInfoObject::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  if (index >= data().implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = data().implTypes[index].flags;
  return S_OK;
}

HRESULT TypeInfoObject::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return S_OK;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
  // The first name is a member; the names after it are that member's parameters, whose
  // identifiers are their positions.
  const Function* member = nullptr;
  for (const Function& f : data().functions) {
    if (NamesEqual(f.name, View(rgszNames[0]))) {
      member = &f;
      break;
    }
  }
  if (member == nullptr) return DISP_E_UNKNOWNNAME;
  pMemId[0] = member->memid;
  HRESULT result = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    bool found = false;
    for (std::size_t p = 0; p < member->params.size(); ++p) {
      if (member->params[p].name && NamesEqual(*member->params[p].name, View(rgszNames[i]))) {
        pMemId[i] = static_cast<MEMBERID>(p);
        found = true;
        break;
      }
    }
    if (!found) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

HRESULT TypeInfoObject::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                               VARIANT* pVarResult, EXCEPINFO*, UINT* puArgErr) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (pvInstance == nullptr || pDispParams == nullptr) return E_INVALIDARG;
    const TypeInfoData& type = data();
    if (type.kind != TKIND_INTERFACE) return TYPE_E_WRONGTYPEKIND;
    if (pVarResult != nullptr) VariantInit(pVarResult);
    // A property put prefers the put form; otherwise the first member whose kind the call allows
    // (scripts call methods and read properties with METHOD|PROPERTYGET together).
    const Function* chosen = nullptr;
    for (const WORD kind : {WORD{INVOKE_PROPERTYPUT}, WORD{INVOKE_PROPERTYPUTREF}, WORD{INVOKE_FUNC | INVOKE_PROPERTYGET}}) {
      for (const Function& f : type.functions) {
        if (f.memid == memid && (f.invkind & wFlags & kind) != 0) {
          chosen = &f;
          break;
        }
      }
      if (chosen != nullptr) break;
    }
    if (chosen == nullptr) return DISP_E_MEMBERNOTFOUND;
    return InvokeFunction(owner_.library(), *chosen, pvInstance, wFlags, pDispParams, pVarResult, puArgErr);
  });
}

HRESULT TypeInfoObject::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                         DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  const Library& lib = owner_.library();
  if (memid == MEMBERID_NIL)
    return Document(data().name, data().doc, data().helpContext, lib.helpFile, pBstrName, pBstrDocString,
                    pdwHelpContext, pBstrHelpFile);
  for (const Function& f : data().functions)
    if (f.memid == memid)
      return Document(f.name, f.doc, f.helpContext, lib.helpFile, pBstrName, pBstrDocString, pdwHelpContext,
                      pBstrHelpFile);
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoObject::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* pBstrDllName, BSTR* pBstrName, WORD* pwOrdinal) {
  if (pBstrDllName) *pBstrDllName = nullptr;
  if (pBstrName) *pBstrName = nullptr;
  if (pwOrdinal) *pwOrdinal = 0;
  return TYPE_E_BADMODULEKIND;  // only module types have entry points, and this format has none
}

HRESULT TypeInfoObject::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  const Library& lib = owner_.library();
  if (hRefType >= lib.references.size()) return TYPE_E_ELEMENTNOTFOUND;
  const Reference& ref = lib.references[hRefType];
  // Imported types (IDispatch of stdole2.tlb) need that library, which the platform does not
  // carry as a file; the reference's identity is still readable through the referring type.
  if (ref.imported) return TYPE_E_CANTLOADLIBRARY;
  return owner_.GetTypeInfo(ref.index, ppTInfo);
}

HRESULT TypeInfoObject::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
  if (ppv) *ppv = nullptr;
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoObject::CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) {
  if (ppvObj) *ppvObj = nullptr;
  return TYPE_E_WRONGTYPEKIND;  // objects are created through the component runtime
}

HRESULT TypeInfoObject::GetMops(MEMBERID, BSTR* pBstrMops) {
  if (pBstrMops == nullptr) return E_INVALIDARG;
  *pBstrMops = nullptr;
  return S_OK;
}

HRESULT TypeInfoObject::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib != nullptr) {
    owner_.AddRef();
    *ppTLib = &owner_;
  }
  if (pIndex != nullptr) *pIndex = index_;
  return S_OK;
}

void TypeInfoObject::ReleaseTypeAttr(TYPEATTR* pTypeAttr) { delete pTypeAttr; }
void TypeInfoObject::ReleaseFuncDesc(FUNCDESC* pFuncDesc) { delete pFuncDesc; }
void TypeInfoObject::ReleaseVarDesc(VARDESC*) {}

HRESULT TypeInfoObject::GetTypeKind(TYPEKIND* pTypeKind) {
  if (pTypeKind == nullptr) return E_INVALIDARG;
  *pTypeKind = data().kind;
  return S_OK;
}

HRESULT TypeInfoObject::GetTypeFlags(ULONG* pTypeFlags) {
  if (pTypeFlags == nullptr) return E_INVALIDARG;
  *pTypeFlags = data().flags;
  return S_OK;
}

HRESULT TypeInfoObject::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) {
  if (pFuncIndex == nullptr) return E_INVALIDARG;
  const auto& functions = data().functions;
  for (std::size_t i = 0; i < functions.size(); ++i) {
    if (functions[i].memid == memid && functions[i].invkind == invKind) {
      *pFuncIndex = static_cast<UINT>(i);
      return S_OK;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoObject::GetVarIndexOfMemId(MEMBERID, UINT* pVarIndex) {
  if (pVarIndex == nullptr) return E_INVALIDARG;
  return TYPE_E_ELEMENTNOTFOUND;
}

// The format keeps no custom data: every query answers "none" (an empty variant), as Windows
// does for an identifier it does not find.
HRESULT TypeInfoObject::GetCustData(REFGUID, VARIANT* pVarVal) { return EmptyCustomData(pVarVal); }
HRESULT TypeInfoObject::GetFuncCustData(UINT, REFGUID, VARIANT* pVarVal) { return EmptyCustomData(pVarVal); }
HRESULT TypeInfoObject::GetParamCustData(UINT, UINT, REFGUID, VARIANT* pVarVal) { return EmptyCustomData(pVarVal); }
HRESULT TypeInfoObject::GetVarCustData(UINT, REFGUID, VARIANT* pVarVal) { return EmptyCustomData(pVarVal); }
HRESULT TypeInfoObject::GetImplTypeCustData(UINT, REFGUID, VARIANT* pVarVal) { return EmptyCustomData(pVarVal); }
HRESULT TypeInfoObject::GetAllCustData(CUSTDATA* pCustData) { return NoCustomData(pCustData); }
HRESULT TypeInfoObject::GetAllFuncCustData(UINT, CUSTDATA* pCustData) { return NoCustomData(pCustData); }
HRESULT TypeInfoObject::GetAllParamCustData(UINT, UINT, CUSTDATA* pCustData) { return NoCustomData(pCustData); }
HRESULT TypeInfoObject::GetAllVarCustData(UINT, CUSTDATA* pCustData) { return NoCustomData(pCustData); }
HRESULT TypeInfoObject::GetAllImplTypeCustData(UINT, CUSTDATA* pCustData) { return NoCustomData(pCustData); }

HRESULT TypeInfoObject::GetDocumentation2(MEMBERID memid, LCID, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                          BSTR* pbstrHelpStringDll) {
  if (pbstrHelpStringDll != nullptr) *pbstrHelpStringDll = nullptr;
  if (pdwHelpStringContext != nullptr) *pdwHelpStringContext = 0;
  return GetDocumentation(memid, nullptr, pbstrHelpString, nullptr, nullptr);
}

// --- TypeLibObject ---------------------------------------------------------------------------

TypeLibObject::TypeLibObject(std::unique_ptr<Library> library) : library_(std::move(library)) {
  for (UINT i = 0; i < library_->types.size(); ++i) infos_.push_back(std::make_unique<TypeInfoObject>(*this, i));
}

HRESULT TypeLibObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeLib) {
    *object = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLibObject::AddRef() { return ++refs_; }

ULONG TypeLibObject::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

UINT TypeLibObject::GetTypeInfoCount() { return static_cast<UINT>(infos_.size()); }

HRESULT TypeLibObject::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
  infos_[index]->AddRef();
  *ppTInfo = infos_[index].get();
  return S_OK;
}

HRESULT TypeLibObject::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
  if (pTKind == nullptr) return E_INVALIDARG;
  if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = library_->types[index].kind;
  return S_OK;
}

HRESULT TypeLibObject::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
  if (ppTinfo == nullptr) return E_INVALIDARG;
  *ppTinfo = nullptr;
  for (UINT i = 0; i < infos_.size(); ++i)
    if (library_->types[i].guid == guid) return GetTypeInfo(i, ppTinfo);
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibObject::GetLibAttr(TLIBATTR** ppTLibAttr) {
  if (ppTLibAttr == nullptr) return E_INVALIDARG;
  auto* attr = new (std::nothrow) TLIBATTR{};
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = library_->guid;
  attr->lcid = library_->lcid;
  attr->syskind = library_->syskind;
  attr->wMajorVerNum = library_->major;
  attr->wMinorVerNum = library_->minor;
  attr->wLibFlags = library_->flags;
  *ppTLibAttr = attr;
  return S_OK;
}

HRESULT TypeLibObject::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLibObject::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                        BSTR* pBstrHelpFile) {
  if (index == -1)
    return Document(library_->name, library_->doc, library_->helpContext, library_->helpFile, pBstrName,
                    pBstrDocString, pdwHelpContext, pBstrHelpFile);
  if (index < 0 || static_cast<std::size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
  const TypeInfoData& t = library_->types[index];
  return Document(t.name, t.doc, t.helpContext, library_->helpFile, pBstrName, pBstrDocString, pdwHelpContext,
                  pBstrHelpFile);
}

HRESULT TypeLibObject::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
  if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
  const std::u16string_view wanted = View(szNameBuf);
  // On a match the caller's buffer receives the stored spelling (same length, other case).
  auto match = [&](const std::u16string& stored) {
    if (!NamesEqual(stored, wanted)) return false;
    std::copy(stored.begin(), stored.end(), szNameBuf);  // over the caller's spelling, its terminator kept
    return true;
  };
  *pfName = FALSE;
  for (const TypeInfoData& t : library_->types) {
    if (match(t.name)) return *pfName = TRUE, S_OK;
    for (const Function& f : t.functions) {
      if (match(f.name)) return *pfName = TRUE, S_OK;
      for (const Param& p : f.params)
        if (p.name && match(*p.name)) return *pfName = TRUE, S_OK;
    }
  }
  return S_OK;
}

HRESULT TypeLibObject::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr) return E_INVALIDARG;
  const std::u16string_view wanted = View(szNameBuf);
  const USHORT capacity = *pcFound;
  USHORT found = 0;
  for (UINT i = 0; i < infos_.size() && found < capacity; ++i) {
    const TypeInfoData& t = library_->types[i];
    MEMBERID memid = MEMBERID_NIL;
    bool hit = NamesEqual(t.name, wanted);
    for (const Function& f : t.functions) {
      if (hit) break;
      if (NamesEqual(f.name, wanted)) {
        hit = true;
        memid = f.memid;
      }
    }
    if (!hit) continue;
    infos_[i]->AddRef();
    ppTInfo[found] = infos_[i].get();
    rgMemId[found] = memid;
    ++found;
  }
  *pcFound = found;
  return S_OK;
}

void TypeLibObject::ReleaseTLibAttr(TLIBATTR* pTLibAttr) { delete pTLibAttr; }

}  // namespace qb::platform::typelib
