// CreateSigningKey. The caller's certificate stays the caller's: every reference that goes into the key is a
// duplicate made here, and once the library has taken a reference or a data object over, it is
// no longer released or destroyed here.
#include "signing/signing_key.h"

#include "certs/cert_handles.h"

namespace quillbox {
namespace {

constexpr xmlSecKeyDataType kPublicAndPrivate = xmlSecKeyDataTypePublic | xmlSecKeyDataTypePrivate;

}  // namespace

Result<UniqueKey> CreateSigningKey(PCCERT_CONTEXT certificate) {
  SignatureLibrary& library = ActiveSignatureLibrary();

  UniqueKeyData x509(library.KeyDataCreate(library.KeyDataX509()));
  if (!x509) return Error::AllocX509Data;

  UniqueCertContext keyCert(CertDuplicateCertificateContext(certificate));
  if (!keyCert) return Error::DuplicateCertData;
  if (library.KeyDataX509AdoptKeyCert(x509.get(), keyCert.get()) < 0) return Error::AdoptCertKeyToX509;
  (void)keyCert.release();  // the X.509 data owns it

  UniqueCertContext valueCert(CertDuplicateCertificateContext(certificate));
  if (!valueCert) return Error::DuplicateCertData;
  UniqueKeyData value(library.CertAdopt(valueCert.get(), kPublicAndPrivate));
  if (!value) return Error::AdoptCertKey;
  (void)valueCert.release();  // the key value owns it

  UniqueCertContext listCert(CertDuplicateCertificateContext(certificate));
  if (!listCert) return Error::DuplicateCertData;
  if (library.KeyDataX509AdoptCert(x509.get(), listCert.get()) < 0) return Error::AdoptCertDataToX509;
  (void)listCert.release();  // the X.509 data's list owns it

  UniqueKey key(library.KeyCreate());
  if (!key) return Error::AllocKey;
  if (library.KeySetValue(key.get(), value.get()) < 0) return Error::SettingKeyData;
  (void)value.release();  // the key owns its value
  if (library.KeyAdoptData(key.get(), x509.get()) < 0) return Error::SettingX509Data;
  (void)x509.release();  // the key owns the X.509 data
  return key;
}

}  // namespace quillbox
