// Which certificate of the personal store Sign signs with, as the object's properties say, and
// the user's own choice in the system's selection dialog.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

#include "certs/cert_handles.h"
#include "common/result.h"

namespace quillbox {

// How Sign finds its certificate (CertFindOption).
enum CertFindOptionValue : SHORT {
  FindByIssuerSerial = 0,
  FindBySubject = 1,
  FindByPicker = 2,
};

// The properties a lookup reads; the texts stay the object's.
struct CertificateQuery {
  SHORT findOption = FindByIssuerSerial;
  BSTR issuerName = nullptr;
  BSTR serial = nullptr;
  BSTR subject = nullptr;
};

// The certificate of the open store that `query` names: the first whose issuer and serial texts
// equal the two properties, the first whose subject contains the subject text, or the one the
// user picks. Fails with NoCertSelected when the user picks none, CertNotFound otherwise.
Result<UniqueCertContext> FindCertificate(HCERTSTORE store, const CertificateQuery& query);

// Shows the system's selection dialog over `store` (loaded for the one call and unloaded after
// it). Fails with NoCertSelected when the user chooses nothing, when the store could not be
// opened (nothing to choose from: no dialog is shown) or when the dialog cannot be loaded.
Result<UniqueCertContext> PickCertificate(HCERTSTORE store);

}  // namespace quillbox
