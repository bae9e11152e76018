// FindCertificate: which certificate of the open personal store Sign signs with.
#include "certs/certificate_query.h"

#include "common/bstr.h"
#include "common/ole_string.h"
#include "certs/text_forms.h"

#include <string_view>

namespace quillbox {
namespace {

// A null text on either side counts as the empty text.
bool SameText(BSTR a, BSTR b) {
  const OleStringView left = a != nullptr ? OleStringView(a, SysStringLen(a)) : OleStringView();
  const OleStringView right = b != nullptr ? OleStringView(b, SysStringLen(b)) : OleStringView();
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

Result<UniqueCertContext> FindCertificate(HCERTSTORE store, const CertificateQuery& query) {
  UniqueCertContext found;
  switch (query.findOption) {
    case FindByIssuerSerial:
      found.reset(FindByIssuerAndSerial(store, query.issuerName, query.serial));
      break;
    case FindBySubject:
      found.reset(CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_SUBJECT_STR_W,
                                             query.subject != nullptr ? query.subject : OLESTR(""), nullptr));
      break;
    case FindByPicker:
      return PickCertificate(store);
    default:
      break;  // no certificate for an unknown option; nothing is looked up
  }
  if (!found) return Error::CertNotFound;
  return found;
}

}  // namespace quillbox
