// Sign and ShowCertsDlg: the object's properties handed to the signing engine as a plain request,
// and the one outcome recorded in the error report.
#include "component/error_report.h"
#include "component/member_boundary.h"
#include "component/module_host.h"
#include "component/signature.h"
#include "certs/text_forms.h"
#include "signing/sign.h"

namespace quillbox {

CertificateQuery Signature::certificateQuery() const {
  return CertificateQuery{CertFindOption_, CertIssuerName_, CertSerial_, CertSubject_};
}

SignRequest Signature::signRequest() const {
  SignRequest request;
  request.xmlDoc = XmlDoc_;
  request.advanced = Advanced_;
  request.userName = UserName_;
  request.localTimeStamp = LocalTimeStamp_;
  request.certificate = certificateQuery();
  request.libraryReports = CryptoErrorCallback;
  return request;
}

HRESULT Signature::Sign(VARIANT_BOOL* pvbResult) {
  VARIANT_BOOL ignored = VARIANT_FALSE;
  VARIANT_BOOL& result = pvbResult != nullptr ? *pvbResult : ignored;
  result = VARIANT_FALSE;
  return MethodBoundary(Error::SigningDoc, [&] {
    ClearErrorState();
    SignRequest request = signRequest();
    request.protectedMode = TheModuleHost().IsProtectedMode();
    Result<UniqueBstr> signedDocument = SignDocument(request);
    if (!signedDocument) {
      SetError(signedDocument.error());
      return;
    }
    AdoptXmlDoc(std::move(signedDocument).value().release());
    result = VARIANT_TRUE;
  });
}

HRESULT Signature::ShowCertsDlg(VARIANT_BOOL* pvbResult) {
  VARIANT_BOOL ignored = VARIANT_FALSE;
  VARIANT_BOOL& result = pvbResult != nullptr ? *pvbResult : ignored;
  result = VARIANT_FALSE;
  return MethodBoundary(Error::NoCertSelected, [&] {
    UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    Result<UniqueCertContext> chosen = PickCertificate(store.get());
    if (!chosen) {
      SetError(chosen.error());
      return;
    }
    UniqueBstr issuer(IssuerNameText(chosen.value().get()));
    put_CertIssuerName(issuer.get());
    UniqueBstr serial(SerialNumberText(chosen.value().get()));
    put_CertSerial(serial.get());
    result = VARIANT_TRUE;
  });
}

}  // namespace quillbox
