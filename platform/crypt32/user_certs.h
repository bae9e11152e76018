// NSS's user certificates (those with a private key), found without logging in to any token.
//
// NSS's own listing (PK11_ListCerts) first logs in to every token that is not "friendly", which
// asks for a card's PIN just to show what is on it. Here each token is only read: a token that is
// open (needs no login, or is logged in) shows its private keys; one that needs a login shows the
// public keys that go with them, as NSS itself looks before a login. A certificate has a key when
// a key object carries its CKA_ID, the PKCS#11 convention that ties a certificate to its key.
#pragma once

#include <qbcrypt.h>

#include <memory>

struct CERTCertificateStr;
struct CERTCertListStr;
struct PK11SlotInfoStr;

namespace qb::platform {

struct CertListFree {
  void operator()(CERTCertListStr* list) const;
};
using UniqueCertList = std::unique_ptr<CERTCertListStr, CertListFree>;

// Every token's certificates with a key, in no particular order, possibly more than once when a
// certificate is on several tokens. Null when NSS cannot list at all.
UniqueCertList ListUserCertificates();

struct SlotRelease {
  void operator()(PK11SlotInfoStr* slot) const;
};
using SlotRef = std::unique_ptr<PK11SlotInfoStr, SlotRelease>;

enum class TokenAccess { Open, LoginNeeded, Locked, Uninitialised };
TokenAccess AccessOf(PK11SlotInfoStr* slot);

// The token holding the certificate's private key and how it can be used; a token whose key is
// ready wins over one that needs a login.
struct KeyPlace {
  QB_CERT_KEY_STATE state = QB_CERT_KEY_NONE;
  SlotRef slot;
};
KeyPlace FindKey(CERTCertificateStr* certificate);

}  // namespace qb::platform
