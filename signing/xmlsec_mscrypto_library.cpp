// The crypto back end of the real signature library on Windows: xmlsec's CryptoAPI back end.
//
// The interface's back-end operations are this back end's own, so each is a plain forward. The
// certificate contexts the key builder hands over are the system's, as the back end wants them:
// every adopting call takes over the caller's reference on success and leaves it to the caller on
// failure, which is the interface's contract too.
#include "signing/signature_library.h"

#include <xmlsec/mscrypto/app.h>
#include <xmlsec/mscrypto/certkeys.h>
#include <xmlsec/mscrypto/crypto.h>
#include <xmlsec/mscrypto/x509.h>

namespace quillbox {

// `config` names the system store the back end's keys manager would read ("MY" when null); the
// component hands the back end its certificates itself and never asks the keys manager.
int XmlSecLibrary::CryptoAppInit(const char* config) { return xmlSecMSCryptoAppInit(config); }
int XmlSecLibrary::CryptoInit() { return xmlSecMSCryptoInit(); }
int XmlSecLibrary::CryptoShutdown() { return xmlSecMSCryptoShutdown(); }
int XmlSecLibrary::CryptoAppShutdown() { return xmlSecMSCryptoAppShutdown(); }

xmlSecTransformId XmlSecLibrary::TransformRsaSha1() { return xmlSecMSCryptoTransformRsaSha1Id; }
xmlSecTransformId XmlSecLibrary::TransformSha1() { return xmlSecMSCryptoTransformSha1Id; }
xmlSecKeyDataId XmlSecLibrary::KeyDataX509() { return xmlSecMSCryptoKeyDataX509Id; }

int XmlSecLibrary::KeyDataX509AdoptKeyCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) {
  return xmlSecMSCryptoKeyDataX509AdoptKeyCert(data, certificate);
}

int XmlSecLibrary::KeyDataX509AdoptCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) {
  return xmlSecMSCryptoKeyDataX509AdoptCert(data, certificate);
}

xmlSecKeyDataPtr XmlSecLibrary::CertAdopt(PCCERT_CONTEXT certificate, xmlSecKeyDataType type) {
  return xmlSecMSCryptoCertAdopt(certificate, type);
}

}  // namespace quillbox
