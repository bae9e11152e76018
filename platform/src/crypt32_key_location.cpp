// Where a certificate's private key lives: the token that holds it, and whether that token is a
// device (a smart card or USB token loaded into the database) rather than NSS's own software token.
#include "crypt32_objects.h"

#include <qbcrypt.h>

#include <cert.h>
#include <pk11pub.h>

#include <algorithm>
#include <cstring>

using namespace qb::platform;

extern "C" BOOL WINAPI QbCertKeyLocation(PCCERT_CONTEXT certificate, LPSTR tokenName, DWORD size, BOOL* hardware) {
  CertContext* context = ContextFrom(certificate);
  if (context == nullptr || context->nss == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Looking for a private key logs in to each token that needs it, through the session's prompt.
  PK11SlotInfo* slot = PK11_KeyForCertExists(context->nss, nullptr, nullptr);
  if (slot == nullptr) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }
  if (tokenName != nullptr && size > 0) {
    const char* name = PK11_GetTokenName(slot);
    const std::size_t length = name != nullptr ? std::min<std::size_t>(std::strlen(name), size - 1) : 0;
    if (length > 0) std::memcpy(tokenName, name, length);
    tokenName[length] = '\0';
  }
  if (hardware != nullptr) *hardware = PK11_IsHW(slot) && !PK11_IsInternal(slot) ? TRUE : FALSE;
  PK11_FreeSlot(slot);
  return TRUE;
}
