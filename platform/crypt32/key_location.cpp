// Where a certificate's private key lives: the token that holds it, whether that token is a
// device (a smart card or USB token loaded into the database) rather than NSS's own software token,
// and whether using it needs a login. Nothing here logs in: listing the store never asks.
#include "objects.h"
#include "user_certs.h"
#include "nss_session.h"
#include "common/boundary.h"

#include <qbcrypt.h>

#include <cert.h>
#include <pk11pub.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace qb::platform;

namespace {

void CopyText(char* to, std::size_t size, const char* text) {
  if (to == nullptr || size == 0) return;
  const std::size_t length = text != nullptr ? std::min<std::size_t>(std::strlen(text), size - 1) : 0;
  if (length > 0) std::memcpy(to, text, length);
  to[length] = '\0';
}

CERTCertificate* NssOf(PCCERT_CONTEXT certificate) {
  CertContext* context = ContextFrom(certificate);
  return context != nullptr ? context->nss : nullptr;
}

}  // namespace

extern "C" BOOL WINAPI QbCertKeyLocation(PCCERT_CONTEXT certificate, LPSTR tokenName, DWORD size, BOOL* hardware) {
  CERTCertificate* nss = NssOf(certificate);
  if (nss == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const KeyPlace place = FindKey(nss);
  if (place.state == QB_CERT_KEY_NONE || place.state == QB_CERT_KEY_UNINITIALISED) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }
  CopyText(tokenName, size, PK11_GetTokenName(place.slot.get()));
  if (hardware != nullptr) *hardware = PK11_IsHW(place.slot.get()) && !PK11_IsInternal(place.slot.get()) ? TRUE : FALSE;
  return TRUE;
}

extern "C" BOOL WINAPI QbCertKeyInfo(PCCERT_CONTEXT certificate, QB_CERT_KEY_INFO* info) {
  return quillbox::LastErrorBoundary<BOOL>(FALSE, [&]() -> BOOL {
    CERTCertificate* nss = NssOf(certificate);
    if (nss == nullptr || info == nullptr || info->cbSize < sizeof(QB_CERT_KEY_INFO)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const KeyPlace place = FindKey(nss);
    info->state = place.state;
    info->hardware = place.slot && !PK11_IsInternal(place.slot.get()) ? TRUE : FALSE;
    CopyText(info->tokenName, sizeof info->tokenName, place.slot ? PK11_GetTokenName(place.slot.get()) : "");
    // The certificate's own token: a database of the session, or a card that carries it.
    if (const auto database = nss::DatabaseOf(nss->slot)) {
      CopyText(info->source, sizeof info->source, database->location.c_str());
      CopyText(info->sourceLabel, sizeof info->sourceLabel, database->label.c_str());
    } else {
      CopyText(info->source, sizeof info->source, nss->slot != nullptr ? PK11_GetTokenName(nss->slot) : "");
      CopyText(info->sourceLabel, sizeof info->sourceLabel, "token");
    }
    return TRUE;
  });
}
