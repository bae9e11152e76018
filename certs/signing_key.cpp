// Signature::CreateSigningKey: the xmlsec key Sign signs with, made from a certificate of the
// store. Its value is the certificate's key pair; beside it, X.509 data holds the certificate
// as the key's own and in its list, which is what the signature's KeyInfo is written from.
//
// The caller's certificate stays the caller's: every reference that goes into the key is a
// duplicate made here, and once the library has taken a reference or a data object over, it is
// no longer released or destroyed here.
#include "component/error_report.h"
#include "component/signature.h"
#include "certs/cert_handles.h"
#include "signing/signature_library.h"

#include <memory>

namespace quillbox {
namespace {

struct KeyDataDeleter {
  void operator()(xmlSecKeyData* data) const { ActiveSignatureLibrary().KeyDataDestroy(data); }
};
using UniqueKeyData = std::unique_ptr<xmlSecKeyData, KeyDataDeleter>;

struct KeyDeleter {
  void operator()(xmlSecKey* key) const { ActiveSignatureLibrary().KeyDestroy(key); }
};
using UniqueKey = std::unique_ptr<xmlSecKey, KeyDeleter>;

constexpr xmlSecKeyDataType kPublicAndPrivate = xmlSecKeyDataTypePublic | xmlSecKeyDataTypePrivate;

}  // namespace

xmlSecKeyPtr Signature::CreateSigningKey(PCCERT_CONTEXT certificate) {
  SignatureLibrary& library = ActiveSignatureLibrary();

  UniqueKeyData x509(library.KeyDataCreate(library.KeyDataX509()));
  if (!x509) {
    SetError(Error::AllocX509Data);
    return nullptr;
  }

  UniqueCertContext keyCert(CertDuplicateCertificateContext(certificate));
  if (!keyCert) {
    SetError(Error::DuplicateCertData);
    return nullptr;
  }
  if (library.KeyDataX509AdoptKeyCert(x509.get(), keyCert.get()) < 0) {
    SetError(Error::AdoptCertKeyToX509);
    return nullptr;
  }
  keyCert.release();  // the X.509 data owns it

  UniqueCertContext valueCert(CertDuplicateCertificateContext(certificate));
  if (!valueCert) {
    SetError(Error::DuplicateCertData);
    return nullptr;
  }
  UniqueKeyData value(library.CertAdopt(valueCert.get(), kPublicAndPrivate));
  if (!value) {
    SetError(Error::AdoptCertKey);
    return nullptr;
  }
  valueCert.release();  // the key value owns it

  UniqueCertContext listCert(CertDuplicateCertificateContext(certificate));
  if (!listCert) {
    SetError(Error::DuplicateCertData);
    return nullptr;
  }
  if (library.KeyDataX509AdoptCert(x509.get(), listCert.get()) < 0) {
    SetError(Error::AdoptCertDataToX509);
    return nullptr;
  }
  listCert.release();  // the X.509 data's list owns it

  UniqueKey key(library.KeyCreate());
  if (!key) {
    SetError(Error::AllocKey);
    return nullptr;
  }
  if (library.KeySetValue(key.get(), value.get()) < 0) {
    SetError(Error::SettingKeyData);
    return nullptr;
  }
  value.release();  // the key owns its value
  if (library.KeyAdoptData(key.get(), x509.get()) < 0) {
    SetError(Error::SettingX509Data);
    return nullptr;
  }
  x509.release();  // the key owns the X.509 data
  return key.release();
}

}  // namespace quillbox
