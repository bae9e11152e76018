// The Signature object: the state a page's script sets before it signs, and the members of the
// script interface. Every member returns S_OK; outcomes go through the error report.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>
#include <objsafe.h>

#include "quillbox_h.h"

#include "certs/certificate_query.h"

namespace quillbox {

struct SignRequest;

inline constexpr const OLECHAR* kComponentVersion = OLESTR("1.0.1.0");

// The object answers ISignature (and IDispatch and IUnknown through the same pointer) and, as a
// second pointer, IObjectSafety. Its reference count is plain: the object lives in one apartment.
// A contained (aggregated) object overrides the IUnknown members to delegate to its outer object.
// The virtual destructor comes after every interface slot in the vtable, so the slot order the
// type library describes is untouched.
class Signature : public ISignature, public IObjectSafety {
 public:
  Signature();
  virtual ~Signature();
  Signature(const Signature&) = delete;
  Signature& operator=(const Signature&) = delete;

  // IUnknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // The object's own interface table, never an outer object's.
  HRESULT InternalQueryInterface(REFIID riid, void** object);

  // IDispatch, served from the registered type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // ISignature, in slot order.
  HRESULT STDMETHODCALLTYPE get_XmlDoc(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_XmlDoc(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE Sign(VARIANT_BOOL* pvbResult) override;
  HRESULT STDMETHODCALLTYPE Finalize() override;
  HRESULT STDMETHODCALLTYPE get_CertSubject(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CertSubject(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Advanced(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Advanced(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE get_ErrorNo(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ErrorStr(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ErrorDesc(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_UserName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_UserName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_LocalTimeStamp(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_LocalTimeStamp(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_CertIssuerName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CertIssuerName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_CertSerial(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CertSerial(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_CertFindOption(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CertFindOption(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE Transform(BSTR xsl, BSTR* tml) override;
  HRESULT STDMETHODCALLTYPE get_Handle(UINT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Handle(UINT newVal) override;
  HRESULT STDMETHODCALLTYPE ShowCertsDlg(VARIANT_BOOL* pvbResult) override;

  // IObjectSafety.
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* supportedOptions,
                                                      DWORD* enabledOptions) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD optionSetMask, DWORD enabledOptions) override;

  // What Sign hands the signing engine: the properties as they stand, still the object's.
  CertificateQuery certificateQuery() const;
  SignRequest signRequest() const;

  // The stored strings themselves, not copies: what the tests compare a property's storage with.
  BSTR xmlDoc() const { return XmlDoc_; }
  BSTR certSerial() const { return CertSerial_; }

 private:
  // Replaces XmlDoc with a string this object now owns.
  void AdoptXmlDoc(BSTR signedDocument);
  void FreeStrings();

  // Field order as the object lays out its state.
  BSTR XmlDoc_ = nullptr;
  BSTR CertSubject_ = nullptr;
  BSTR UserName_ = nullptr;
  BSTR LocalTimeStamp_ = nullptr;
  VARIANT_BOOL Advanced_ = VARIANT_FALSE;
  SHORT CertFindOption_ = FindByIssuerSerial;
  BSTR CertIssuerName_ = nullptr;
  BSTR CertSerial_ = nullptr;
  UINT Handle_ = 0;

 protected:
  LONG references_ = 0;

 private:
  DWORD enabledSafetyOptions_ = 0;
};

}  // namespace quillbox
