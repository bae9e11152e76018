// The crypto back end of the real signature library: xmlsec's NSS back end over the platform's
// NSS session and certificate store.
//
// NSS belongs to the platform, which opens it once per process and keeps it open while any
// certificate or key lives. xmlSecNssAppInit would initialise NSS on its own (without the user's
// database) and xmlSecNssAppShutdown logs every token out and shuts NSS down under the platform's
// feet, so the application-level start and end only make sure the platform's session is there.
#include "signing/signature_library.h"

#include "signing/error_location.h"

#include <qbcrypt.h>

#include <xmlsec/nss/crypto.h>
#include <xmlsec/nss/pkikeys.h>
#include <xmlsec/nss/x509.h>

#include <cert.h>
#include <keyhi.h>
#include <pk11pub.h>

#include <memory>

namespace quillbox {
namespace {

struct NssCertDeleter {
  void operator()(CERTCertificate* cert) const { CERT_DestroyCertificate(cert); }
};
using UniqueNssCert = std::unique_ptr<CERTCertificate, NssCertDeleter>;

struct PrivateKeyDeleter {
  void operator()(SECKEYPrivateKey* key) const { SECKEY_DestroyPrivateKey(key); }
};
struct PublicKeyDeleter {
  void operator()(SECKEYPublicKey* key) const { SECKEY_DestroyPublicKey(key); }
};

// The NSS certificate behind a context, found by its encoding: a new NSS reference.
UniqueNssCert NssCertificateFor(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr || certificate->pbCertEncoded == nullptr) return nullptr;
  SECItem der{siBuffer, certificate->pbCertEncoded, certificate->cbCertEncoded};
  return UniqueNssCert(CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &der));
}

// The store's own database token without its key database asks for a password as well, one it
// never had: what is wrong is the key database, told with its path, and no password would help.
bool ReportMissingKeyDatabase(PK11SlotInfo* slot) {
  if (slot == nullptr || !PK11_IsInternalKeySlot(slot)) return false;
  char path[1024] = "";
  switch (QbCryptKeyDatabaseState(nullptr, path, sizeof path)) {
    case QB_KEY_DATABASE_MISSING:
      xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                  "there is no private key: the NSS database has no key database (%s was missing, and NSS made an "
                  "empty one in its place)",
                  path);
      return true;
    case QB_KEY_DATABASE_EMPTY:
      xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                  "there is no private key: the key database %s is empty (it holds no keys)", path);
      return true;
    case QB_KEY_DATABASE_UNREADABLE:
      xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                  "the private key cannot be read: the key database %s cannot be read", path);
      return true;
    default:
      return false;
  }
}

// Says why the private key could not be had, through the library's error report so that it
// reaches ErrorDesc like every other failure inside the library.
void ReportMissingPrivateKey(CERTCertificate* cert) {
  PK11SlotInfo* slot = cert->slot;
  if (ReportMissingKeyDatabase(slot)) return;
  if (slot != nullptr && PK11_NeedUserInit(slot)) {
    // NSS asks for a login here too, but no password could help: the keys are not there. (A
    // further database, or a card, whose key database state the store does not tell.)
    xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                PK11_IsInternalKeySlot(slot)
                    ? "the certificate's database \"%s\" has no private keys: its key database (key4.db) is "
                      "missing or empty"
                    : "the certificate's token \"%s\" has no PIN set, so it holds no private key",
                PK11_GetTokenName(slot));
    return;
  }
  if (slot != nullptr && PK11_NeedLogin(slot) && !PK11_IsLoggedIn(slot, nullptr)) {
    // A card is unlocked with a PIN, the software database with its password; a locked PIN is
    // not asked for at all, and wants unlocking rather than another try.
    const bool card = !PK11_IsInternalKeySlot(slot);
    CK_TOKEN_INFO info{};
    if (PK11_GetTokenInfo(slot, &info) == SECSuccess && (info.flags & CKF_USER_PIN_LOCKED) != 0) {
      xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                  "the private key is on token \"%s\", whose %s is locked after too many wrong tries; it must be "
                  "unlocked (with the card's PUK or by its administrator) before it can sign",
                  PK11_GetTokenName(slot), card ? "PIN" : "password");
      return;
    }
    xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
                "the private key is on token \"%s\", which needs a %s, and no right one was given",
                PK11_GetTokenName(slot), card ? "PIN" : "password");
    return;
  }
  xmlSecError(QUILLBOX_ERRORS_HERE, nullptr, "PK11_FindKeyByAnyCert", XMLSEC_ERRORS_R_CRYPTO_FAILED,
              "no private key for the certificate \"%s\"", cert->subjectName != nullptr ? cert->subjectName : "");
}

}  // namespace

int XmlSecLibrary::CryptoAppInit(const char*) {
  // Without a certificate database the back end still starts, so that a missing store is told as
  // such when the store is opened rather than as a crypto start failure.
  return QbCryptOpenSession(FALSE) ? 0 : -1;
}

int XmlSecLibrary::CryptoInit() { return xmlSecNssInit(); }
int XmlSecLibrary::CryptoShutdown() { return xmlSecNssShutdown(); }
int XmlSecLibrary::CryptoAppShutdown() { return 0; }

xmlSecTransformId XmlSecLibrary::TransformRsaSha1() { return xmlSecNssTransformRsaSha1GetKlass(); }
xmlSecTransformId XmlSecLibrary::TransformSha1() { return xmlSecNssTransformSha1GetKlass(); }
xmlSecKeyDataId XmlSecLibrary::KeyDataX509() { return xmlSecNssKeyDataX509GetKlass(); }

int XmlSecLibrary::KeyDataX509AdoptKeyCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) {
  UniqueNssCert cert = NssCertificateFor(certificate);
  if (!cert || xmlSecNssKeyDataX509AdoptKeyCert(data, cert.get()) < 0) return -1;
  (void)cert.release();  // the data owns the NSS reference now
  CertFreeCertificateContext(certificate);
  return 0;
}

int XmlSecLibrary::KeyDataX509AdoptCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) {
  UniqueNssCert cert = NssCertificateFor(certificate);
  if (!cert || xmlSecNssKeyDataX509AdoptCert(data, cert.get()) < 0) return -1;
  (void)cert.release();
  CertFreeCertificateContext(certificate);
  return 0;
}

xmlSecKeyDataPtr XmlSecLibrary::CertAdopt(PCCERT_CONTEXT certificate, xmlSecKeyDataType type) {
  UniqueNssCert cert = NssCertificateFor(certificate);
  if (!cert) return nullptr;
  std::unique_ptr<SECKEYPublicKey, PublicKeyDeleter> publicKey(CERT_ExtractPublicKey(cert.get()));
  if (!publicKey) return nullptr;
  std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter> privateKey;
  if ((type & xmlSecKeyDataTypePrivate) != 0) {
    privateKey.reset(PK11_FindKeyByAnyCert(cert.get(), nullptr));
    if (!privateKey) {
      ReportMissingPrivateKey(cert.get());
      return nullptr;
    }
  }
  xmlSecKeyDataPtr value = xmlSecNssPKIAdoptKey(privateKey.get(), publicKey.get());
  if (value == nullptr) return nullptr;
  (void)privateKey.release();  // the key value owns both keys now
  (void)publicKey.release();
  CertFreeCertificateContext(certificate);
  return value;
}

}  // namespace quillbox
