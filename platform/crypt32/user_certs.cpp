#include "user_certs.h"

#include <cert.h>
#include <keyhi.h>
#include <pk11pub.h>
#include <secitem.h>

#include <optional>
#include <set>
#include <string>

namespace qb::platform {
namespace {

struct SlotListFree {
  void operator()(PK11SlotList* list) const { PK11_FreeSlotList(list); }
};
struct GenericObjectsFree {
  void operator()(PK11GenericObject* objects) const { PK11_DestroyGenericObjects(objects); }
};
using UniqueObjects = std::unique_ptr<PK11GenericObject, GenericObjectsFree>;
struct ItemFree {
  void operator()(SECItem* item) const { SECITEM_FreeItem(item, PR_TRUE); }
};
using UniqueItem = std::unique_ptr<SECItem, ItemFree>;
struct PrivateKeyFree {
  void operator()(SECKEYPrivateKey* key) const { SECKEY_DestroyPrivateKey(key); }
};
struct PublicKeyFree {
  void operator()(SECKEYPublicKey* key) const { SECKEY_DestroyPublicKey(key); }
};

std::string Bytes(const SECItem& item) { return std::string(reinterpret_cast<const char*>(item.data), item.len); }

// The value's bytes go whether or not the copy of them can be made.
struct ItemContentsFree {
  void operator()(SECItem* item) const { SECITEM_FreeItem(item, PR_FALSE); }
};

std::optional<std::string> Attribute(PK11GenericObject* object, CK_ATTRIBUTE_TYPE type) {
  SECItem value{};
  if (PK11_ReadRawAttribute(PK11_TypeGeneric, object, type, &value) != SECSuccess) return std::nullopt;
  const std::unique_ptr<SECItem, ItemContentsFree> contents(&value);
  return Bytes(value);
}

std::unique_ptr<PK11SlotList, SlotListFree> AllTokens() {
  return std::unique_ptr<PK11SlotList, SlotListFree>(PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr));
}

// The CKA_IDs of the key objects a token shows without a login: its private keys when it is open,
// otherwise the public keys that stand for them.
std::set<std::string> KeyIds(PK11SlotInfo* slot, TokenAccess access) {
  std::set<std::string> ids;
  const UniqueObjects objects(PK11_FindGenericObjects(slot, access == TokenAccess::Open ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY));
  for (PK11GenericObject* object = objects.get(); object != nullptr; object = PK11_GetNextGenericObject(object)) {
    if (auto id = Attribute(object, CKA_ID); id && !id->empty()) ids.insert(std::move(*id));
  }
  return ids;
}

// The identifier NSS gives a key and its certificate when it stores them: a hash of the public key.
std::optional<std::string> NssKeyId(CERTCertificate* certificate) {
  const std::unique_ptr<SECKEYPublicKey, PublicKeyFree> key(CERT_ExtractPublicKey(certificate));
  if (!key) return std::nullopt;
  SECItem* value = nullptr;
  switch (key->keyType) {
    case rsaKey: value = &key->u.rsa.modulus; break;
    case ecKey: value = &key->u.ec.publicValue; break;
    case dsaKey: value = &key->u.dsa.publicValue; break;
    default: return std::nullopt;
  }
  const UniqueItem id(PK11_MakeIDFromPubKey(value));
  if (!id || id->len == 0) return std::nullopt;
  return Bytes(*id);
}

// The CKA_ID the token gave the certificate's own object there, found by reading: NSS's lookups
// of a certificate object (PK11_FindCertInSlot, and PK11_ReadRawAttribute through it) log in to
// the token first.
std::optional<std::string> TokenCertificateId(PK11SlotInfo* slot, CERTCertificate* certificate) {
  const std::string der = Bytes(certificate->derCert);
  const UniqueObjects objects(PK11_FindGenericObjects(slot, CKO_CERTIFICATE));
  for (PK11GenericObject* object = objects.get(); object != nullptr; object = PK11_GetNextGenericObject(object)) {
    if (Attribute(object, CKA_VALUE) == der) return Attribute(object, CKA_ID);
  }
  return std::nullopt;
}

bool HasKey(PK11SlotInfo* slot, TokenAccess access, CERTCertificate* certificate) {
  const std::optional<std::string> nssId = NssKeyId(certificate);
  if (access == TokenAccess::Open && nssId) {
    // The usual case, answered by one search; with the token open no login is involved.
    SECItem item{siBuffer, reinterpret_cast<unsigned char*>(const_cast<char*>(nssId->data())),
                 static_cast<unsigned>(nssId->size())};
    if (std::unique_ptr<SECKEYPrivateKey, PrivateKeyFree> key(PK11_FindKeyByKeyID(slot, &item, nullptr)); key) return true;
  }
  const std::set<std::string> keys = KeyIds(slot, access);
  if (keys.empty()) return false;
  if (nssId && keys.contains(*nssId)) return true;
  // A token that gave its objects identifiers of its own.
  const std::optional<std::string> tokenId = TokenCertificateId(slot, certificate);
  return tokenId && keys.contains(*tokenId);
}

QB_CERT_KEY_STATE StateFor(TokenAccess access) {
  switch (access) {
    case TokenAccess::Open: return QB_CERT_KEY_READY;
    case TokenAccess::LoginNeeded: return QB_CERT_KEY_LOGIN_NEEDED;
    case TokenAccess::Locked: return QB_CERT_KEY_LOCKED;
    case TokenAccess::Uninitialised: return QB_CERT_KEY_UNINITIALISED;
  }
  return QB_CERT_KEY_NONE;
}

}  // namespace

void CertListFree::operator()(CERTCertList* list) const { CERT_DestroyCertList(list); }
void SlotRelease::operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }

TokenAccess AccessOf(PK11SlotInfo* slot) {
  // Before the login question: a database whose key file went missing needs a login too, and
  // asking for a password there only hides that its keys are gone.
  if (PK11_NeedUserInit(slot)) return TokenAccess::Uninitialised;
  if (!PK11_NeedLogin(slot) || PK11_IsLoggedIn(slot, nullptr)) return TokenAccess::Open;
  CK_TOKEN_INFO info{};
  if (PK11_GetTokenInfo(slot, &info) == SECSuccess && (info.flags & CKF_USER_PIN_LOCKED) != 0) return TokenAccess::Locked;
  return TokenAccess::LoginNeeded;
}

UniqueCertList ListUserCertificates() {
  UniqueCertList list(CERT_NewCertList());
  const auto tokens = AllTokens();
  if (!list || !tokens) return nullptr;
  for (PK11SlotListElement* element = tokens->head; element != nullptr; element = element->next) {
    PK11SlotInfo* slot = element->slot;
    const std::set<std::string> keys = KeyIds(slot, AccessOf(slot));
    if (keys.empty()) continue;
    const UniqueObjects certificates(PK11_FindGenericObjects(slot, CKO_CERTIFICATE));
    for (PK11GenericObject* object = certificates.get(); object != nullptr; object = PK11_GetNextGenericObject(object)) {
      const auto id = Attribute(object, CKA_ID);
      if (!id || !keys.contains(*id)) continue;
      auto der = Attribute(object, CKA_VALUE);
      if (!der) continue;
      SECItem item{siBuffer, reinterpret_cast<unsigned char*>(der->data()), static_cast<unsigned>(der->size())};
      CERTCertificate* certificate = CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &item);
      if (certificate != nullptr && CERT_AddCertToListTail(list.get(), certificate) != SECSuccess) {
        CERT_DestroyCertificate(certificate);
      }
    }
  }
  return list;
}

KeyPlace FindKey(CERTCertificate* certificate) {
  KeyPlace place;
  const auto tokens = AllTokens();
  if (certificate == nullptr || !tokens) return place;
  for (PK11SlotListElement* element = tokens->head; element != nullptr; element = element->next) {
    PK11SlotInfo* slot = element->slot;
    const TokenAccess access = AccessOf(slot);
    if (!HasKey(slot, access, certificate)) continue;
    const QB_CERT_KEY_STATE state = StateFor(access);
    if (place.state == QB_CERT_KEY_NONE || (state == QB_CERT_KEY_READY && place.state != QB_CERT_KEY_READY)) {
      place.state = state;
      place.slot.reset(PK11_ReferenceSlot(slot));
    }
    if (state == QB_CERT_KEY_READY) break;
  }
  return place;
}

}  // namespace qb::platform
