// Signature::FindCertificate: which certificate of the open personal store Sign signs with.
#include "component/bstr.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "certs/cert_handles.h"
#include "certs/text_forms.h"

#include <string_view>

namespace quillbox {
namespace {

// A null text on either side counts as the empty text.
bool SameText(BSTR a, BSTR b) {
  const std::u16string_view left = a != nullptr ? std::u16string_view(a, SysStringLen(a)) : std::u16string_view();
  const std::u16string_view right = b != nullptr ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view();
  return left == right;
}

// The first certificate in enumeration order whose issuer and serial texts equal the two
// properties. The serial text is built only for certificates whose issuer matched.
PCCERT_CONTEXT FindByIssuerAndSerial(HCERTSTORE store, BSTR issuerName, BSTR serial) {
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) {
    UniqueBstr issuer(IssuerNameText(current));
    if (!SameText(issuer.get(), issuerName)) continue;
    UniqueBstr serialText(SerialNumberText(current));
    if (SameText(serialText.get(), serial)) return current;
  }
  return nullptr;
}

}  // namespace

PCCERT_CONTEXT Signature::FindCertificate(HCERTSTORE store) {
  PCCERT_CONTEXT found = nullptr;
  switch (CertFindOption_) {
    case FindByIssuerSerial:
      found = FindByIssuerAndSerial(store, CertIssuerName_, CertSerial_);
      break;
    case FindBySubject:
      found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                         CertSubject_ != nullptr ? CertSubject_ : u"", nullptr);
      break;
    case FindByPicker:
      found = PickCertificate(store);
      if (found == nullptr) {
        SetError(Error::NoCertSelected);
        return nullptr;
      }
      break;
    default:
      break;  // no certificate for an unknown option; nothing is looked up
  }
  if (found == nullptr) SetError(Error::CertNotFound);
  return found;
}

}  // namespace quillbox
