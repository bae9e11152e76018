#include "crypt32_user_certs.h"

#include <cert.h>
#include <keyhi.h>
#include <pk11pub.h>
#include <secitem.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

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

std::optional<std::string> Attribute(PK11GenericObject* object, CK_ATTRIBUTE_TYPE type) {
  SECItem value{};
  if (PK11_ReadRawAttribute(PK11_TypeGeneric, object, type, &value) != SECSuccess) return std::nullopt;
  std::string bytes = Bytes(value);
  SECITEM_FreeItem(&value, PR_FALSE);
  return bytes;
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

// The identifier NSS gives a key and its certificate when it stores them (a hash of the public
// key); a certificate read from a token may carry another one of the token's making.
std::vector<std::string> CandidateIds(PK11SlotInfo* slot, CERTCertificate* certificate) {
  std::vector<std::string> ids;
  if (const UniqueItem id{PK11_GetLowLevelKeyIDForCert(slot, certificate, nullptr)}; id && id->len > 0) ids.push_back(Bytes(*id));
  const std::unique_ptr<SECKEYPublicKey, PublicKeyFree> key(CERT_ExtractPublicKey(certificate));
  const SECItem* value = nullptr;
  if (key) {
    switch (key->keyType) {
      case rsaKey: value = &key->u.rsa.modulus; break;
      case ecKey: value = &key->u.ec.publicValue; break;
      case dsaKey: value = &key->u.dsa.publicValue; break;
      default: break;
    }
  }
  if (value != nullptr) {
    if (const UniqueItem id{PK11_MakeIDFromPubKey(const_cast<SECItem*>(value))}; id && id->len > 0) ids.push_back(Bytes(*id));
  }
  return ids;
}

bool HasKey(PK11SlotInfo* slot, TokenAccess access, const std::vector<std::string>& ids) {
  if (ids.empty()) return false;
  if (access == TokenAccess::Open) {
    for (const std::string& id : ids) {
      SECItem item{siBuffer, reinterpret_cast<unsigned char*>(const_cast<char*>(id.data())), static_cast<unsigned>(id.size())};
      // Finds the key object only; with the token open no login is involved.
      if (std::unique_ptr<SECKEYPrivateKey, PrivateKeyFree> key(PK11_FindKeyByKeyID(slot, &item, nullptr)); key) return true;
    }
    return false;
  }
  const std::set<std::string> keys = KeyIds(slot, access);
  for (const std::string& id : ids) {
    if (keys.contains(id)) return true;
  }
  return false;
}

QB_CERT_KEY_STATE StateFor(TokenAccess access) {
  switch (access) {
    case TokenAccess::Open: return QB_CERT_KEY_READY;
    case TokenAccess::LoginNeeded: return QB_CERT_KEY_LOGIN_NEEDED;
    case TokenAccess::Locked: return QB_CERT_KEY_LOCKED;
  }
  return QB_CERT_KEY_NONE;
}

}  // namespace

void CertListFree::operator()(CERTCertList* list) const { CERT_DestroyCertList(list); }
void SlotRelease::operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }

TokenAccess AccessOf(PK11SlotInfo* slot) {
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
    if (!HasKey(slot, access, CandidateIds(slot, certificate))) continue;
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
