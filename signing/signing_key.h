// The xmlsec key Sign signs with, made from a certificate of the store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/result.h"
#include "signing/xmlsec_handles.h"

namespace quillbox {

// Its value is the certificate's key pair; beside it, X.509 data holds the certificate as the
// key's own and in its list, which is what the signature's KeyInfo is written from. The caller's
// certificate stays the caller's. Fails with the error of the step that failed.
Result<UniqueKey> CreateSigningKey(PCCERT_CONTEXT certificate);

}  // namespace quillbox
