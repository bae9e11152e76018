// The Sign road: from the input checks to the signed document, as a value the caller keeps.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "certs/certificate_query.h"
#include "common/bstr.h"
#include "common/result.h"

#include <xmlsec/xmlsec.h>

#include <xmlsec/errors.h>

namespace quillbox {

// What one signature is made from: the object's properties, which stay the object's.
struct SignRequest {
  // The hosting browser runs in its protected mode, where nothing is signed.
  bool protectedMode = false;
  BSTR xmlDoc = nullptr;
  VARIANT_BOOL advanced = VARIANT_FALSE;
  BSTR userName = nullptr;
  BSTR localTimeStamp = nullptr;
  CertificateQuery certificate;
  // Hears the signature library's own reports while the call runs.
  xmlSecErrorsCallback libraryReports = nullptr;
};

// Refuses a protected-mode call (AccessDenied), checks that the request has the inputs Sign cannot
// go without (XmlDocEmpty, CertUniqueIdEmpty or CertSubjectEmpty for the first missing), signs
// XmlDoc with an enveloped signature made with the certificate the request names, and returns the
// whole signed document; or the error of the step that failed.
Result<UniqueBstr> SignDocument(const SignRequest& request);

}  // namespace quillbox
