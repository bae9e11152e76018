// The Signature object: the state a page's script sets before it signs, and the members of the
// script interface. Every member returns S_OK; outcomes go through the error report.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <xmlsec/xmlsec.h>

#include <xmlsec/keys.h>

namespace quillbox {

// How Sign finds its certificate (CertFindOption).
enum CertFindOptionValue : SHORT {
  FindByIssuerSerial = 0,
  FindBySubject = 1,
  FindByPicker = 2,
};

inline constexpr const OLECHAR* kComponentVersion = u"1.0.1.0";

class Signature {
 public:
  Signature();
  ~Signature();
  Signature(const Signature&) = delete;
  Signature& operator=(const Signature&) = delete;

  // Script interface members, in slot order.
  HRESULT get_XmlDoc(BSTR* pVal);
  HRESULT put_XmlDoc(BSTR newVal);
  HRESULT Sign(VARIANT_BOOL* pvbResult);
  HRESULT Finalize();
  HRESULT get_CertSubject(BSTR* pVal);
  HRESULT put_CertSubject(BSTR newVal);
  HRESULT get_Advanced(VARIANT_BOOL* pVal);
  HRESULT put_Advanced(VARIANT_BOOL newVal);
  HRESULT get_ErrorNo(LONG* pVal);
  HRESULT get_ErrorStr(BSTR* pVal);
  HRESULT get_ErrorDesc(BSTR* pVal);
  HRESULT get_UserName(BSTR* pVal);
  HRESULT put_UserName(BSTR newVal);
  HRESULT get_LocalTimeStamp(BSTR* pVal);
  HRESULT put_LocalTimeStamp(BSTR newVal);
  HRESULT get_CertIssuerName(BSTR* pVal);
  HRESULT put_CertIssuerName(BSTR newVal);
  HRESULT get_CertSerial(BSTR* pVal);
  HRESULT put_CertSerial(BSTR newVal);
  HRESULT get_CertFindOption(SHORT* pVal);
  HRESULT put_CertFindOption(SHORT newVal);
  HRESULT get_Version(BSTR* pVal);
  HRESULT Transform(BSTR xsl, BSTR* tml);
  HRESULT get_Handle(UINT* pVal);
  HRESULT put_Handle(UINT newVal);
  HRESULT ShowCertsDlg(VARIANT_BOOL* pvbResult);

  // Internal operations of Sign and ShowCertsDlg. Each sets the error report when it returns none.
  bool CheckSignInputs();
  PCCERT_CONTEXT FindCertificate(HCERTSTORE store);
  PCCERT_CONTEXT PickCertificate(HCERTSTORE store);
  xmlSecKeyPtr CreateSigningKey(PCCERT_CONTEXT certificate);

  // Direct field access for the operations of this object that live in other files.
  BSTR xmlDoc() const { return XmlDoc_; }
  BSTR certSubject() const { return CertSubject_; }
  BSTR userName() const { return UserName_; }
  BSTR localTimeStamp() const { return LocalTimeStamp_; }
  BSTR certIssuerName() const { return CertIssuerName_; }
  BSTR certSerial() const { return CertSerial_; }
  VARIANT_BOOL advanced() const { return Advanced_; }
  SHORT certFindOption() const { return CertFindOption_; }
  // Replaces XmlDoc with a string this object now owns.
  void AdoptXmlDoc(BSTR signedDocument);

 private:
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
};

}  // namespace quillbox
