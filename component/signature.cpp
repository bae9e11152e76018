// The Signature object's state: construction, destruction, the property accessors and Finalize.
#include "component/signature.h"

#include "common/bstr.h"
#include "component/error_report.h"
#include "component/member_boundary.h"
#include "component/module_host.h"

#include <string>

namespace quillbox {
namespace {

// Getter of an object string: a new copy of the whole stored value, an empty string for null.
HRESULT GetString(BSTR value, BSTR* pVal) {
  if (pVal == nullptr) return S_OK;
  *pVal = value != nullptr ? CopyWhole(value) : SysAllocString(OLESTR(""));
  return S_OK;
}

// Setter of an object string: the old value freed, a copy up to the first zero unit kept. A copy
// that cannot be allocated leaves the property null.
HRESULT PutString(BSTR& field, BSTR newVal) {
  SysFreeString(field);
  field = CopyUpToNul(newVal);
  return S_OK;
}

void Free(BSTR& field) {
  SysFreeString(field);
  field = nullptr;
}

// Upper-cases a serial text through the ANSI code page, as the system's other texts pass it.
BSTR UpperCasedThroughAnsi(BSTR copy) {
  const UINT units = SysStringLen(copy);
  if (units == 0) return SysAllocStringLen(OLESTR(""), 0);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, copy, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return nullptr;
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, copy, static_cast<int>(units), narrow.data(), bytes, nullptr, nullptr);
  CharUpperBuffA(narrow.data(), static_cast<DWORD>(narrow.size()));
  const int wide = MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, nullptr, 0);
  if (wide <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
  if (result != nullptr) MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, result, wide);
  return result;
}

}  // namespace

Signature::Signature() {
  TheModuleHost().Lock();
  ClearErrorTexts();
}

Signature::~Signature() {
  FreeStrings();
  TheModuleHost().Unlock();
}

HRESULT Signature::InternalQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISignature) || IsEqualIID(riid, IID_IDispatch)) {
    *object = static_cast<ISignature*>(this);
  } else if (IsEqualIID(riid, IID_IObjectSafety)) {
    *object = static_cast<IObjectSafety*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT Signature::QueryInterface(REFIID riid, void** object) { return InternalQueryInterface(riid, object); }

ULONG Signature::AddRef() { return static_cast<ULONG>(++references_); }

ULONG Signature::Release() {
  const LONG count = --references_;
  if (count == 0) {
    references_ = 1;  // a QueryInterface/Release pair during destruction must not destroy twice
    delete this;
  }
  return static_cast<ULONG>(count);
}

void Signature::FreeStrings() {
  Free(XmlDoc_);
  Free(CertSubject_);
  Free(CertIssuerName_);
  Free(CertSerial_);
  Free(UserName_);
  Free(LocalTimeStamp_);
}

void Signature::AdoptXmlDoc(BSTR signedDocument) {
  SysFreeString(XmlDoc_);
  XmlDoc_ = signedDocument;
}

HRESULT Signature::get_XmlDoc(BSTR* pVal) { return GetString(XmlDoc_, pVal); }
HRESULT Signature::put_XmlDoc(BSTR newVal) { return PutString(XmlDoc_, newVal); }
HRESULT Signature::get_CertSubject(BSTR* pVal) { return GetString(CertSubject_, pVal); }
HRESULT Signature::put_CertSubject(BSTR newVal) { return PutString(CertSubject_, newVal); }
HRESULT Signature::get_UserName(BSTR* pVal) { return GetString(UserName_, pVal); }
HRESULT Signature::put_UserName(BSTR newVal) { return PutString(UserName_, newVal); }
HRESULT Signature::get_LocalTimeStamp(BSTR* pVal) { return GetString(LocalTimeStamp_, pVal); }
HRESULT Signature::put_LocalTimeStamp(BSTR newVal) { return PutString(LocalTimeStamp_, newVal); }
HRESULT Signature::get_CertIssuerName(BSTR* pVal) { return GetString(CertIssuerName_, pVal); }
HRESULT Signature::put_CertIssuerName(BSTR newVal) { return PutString(CertIssuerName_, newVal); }
HRESULT Signature::get_CertSerial(BSTR* pVal) { return GetString(CertSerial_, pVal); }

HRESULT Signature::put_CertSerial(BSTR newVal) {
  Free(CertSerial_);
  return SetterBoundary([&] {
    UniqueBstr copy(CopyUpToNul(newVal));
    if (copy) CertSerial_ = UpperCasedThroughAnsi(copy.get());
  });
}

HRESULT Signature::get_Advanced(VARIANT_BOOL* pVal) {
  if (pVal != nullptr) *pVal = Advanced_;
  return S_OK;
}
HRESULT Signature::put_Advanced(VARIANT_BOOL newVal) {
  Advanced_ = newVal;
  return S_OK;
}
HRESULT Signature::get_CertFindOption(SHORT* pVal) {
  if (pVal != nullptr) *pVal = CertFindOption_;
  return S_OK;
}
HRESULT Signature::put_CertFindOption(SHORT newVal) {
  CertFindOption_ = newVal;
  return S_OK;
}
HRESULT Signature::get_Handle(UINT* pVal) {
  if (pVal != nullptr) *pVal = Handle_;
  return S_OK;
}
HRESULT Signature::put_Handle(UINT newVal) {
  Handle_ = newVal;
  return S_OK;
}

HRESULT Signature::get_Version(BSTR* pVal) {
  if (pVal != nullptr) *pVal = SysAllocString(kComponentVersion);
  return S_OK;
}

HRESULT Signature::get_ErrorNo(LONG* pVal) {
  if (pVal != nullptr) *pVal = TheErrorState()->ErrorNo;
  return S_OK;
}
HRESULT Signature::get_ErrorStr(BSTR* pVal) {
  if (pVal != nullptr) *pVal = CopyWhole(TheErrorState()->ErrorStr);
  return S_OK;
}
HRESULT Signature::get_ErrorDesc(BSTR* pVal) {
  if (pVal != nullptr) *pVal = CopyWhole(TheErrorState()->ErrorDesc);
  return S_OK;
}

HRESULT Signature::Finalize() {
  FreeStrings();
  const LockedErrorState state = TheErrorState();
  Free(state->ErrorStr);
  Free(state->ErrorDesc);
  state->ErrorDescTaken = 0;
  return S_OK;
}

}  // namespace quillbox
