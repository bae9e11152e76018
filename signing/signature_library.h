// The library boundary of the signing engine: every call of the XML security library (core and
// crypto back end) and the XML tree calls that build the signature template. The Sign road and
// the key builder call the libraries only through this interface, so tests can wrap the real
// implementation and fail one call at a chosen step.
//
// The back-end operations are the ones xmlsec's Windows CryptoAPI back end names
// xmlSecMSCrypto*. One source per platform defines them: on Windows that back end itself
// (signing/xmlsec_mscrypto_library.cpp), elsewhere xmlsec's NSS back end over the platform's
// certificate store (signing/xmlsec_nss_library.cpp).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <libxml/tree.h>
#include <xmlsec/xmlsec.h>  // first: the other xmlsec headers rely on its definitions

#include <xmlsec/errors.h>
#include <xmlsec/keys.h>
#include <xmlsec/xmldsig.h>

namespace quillbox {

class SignatureLibrary {
 public:
  // Core start and end.
  virtual int Init() = 0;  // xmlSecInit
  virtual int CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) = 0;
  virtual int Shutdown() = 0;  // xmlSecShutdown
  virtual void ErrorsSetCallback(xmlSecErrorsCallback callback) = 0;

  // Crypto back end.
  virtual int CryptoAppInit(const char* config) = 0;
  virtual int CryptoInit() = 0;
  virtual int CryptoShutdown() = 0;
  virtual int CryptoAppShutdown() = 0;
  virtual xmlSecTransformId TransformRsaSha1() = 0;
  virtual xmlSecTransformId TransformSha1() = 0;
  virtual xmlSecKeyDataId KeyDataX509() = 0;
  // The data takes over `certificate` (a reference the caller obtained) on success only.
  virtual int KeyDataX509AdoptKeyCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) = 0;
  virtual int KeyDataX509AdoptCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) = 0;
  // A key value for the certificate's key pair; takes over `certificate` on success only.
  virtual xmlSecKeyDataPtr CertAdopt(PCCERT_CONTEXT certificate, xmlSecKeyDataType type) = 0;

  // Keys.
  virtual xmlSecKeyDataPtr KeyDataCreate(xmlSecKeyDataId id) = 0;
  virtual void KeyDataDestroy(xmlSecKeyDataPtr data) = 0;
  virtual xmlSecKeyPtr KeyCreate() = 0;
  virtual void KeyDestroy(xmlSecKeyPtr key) = 0;
  virtual int KeySetValue(xmlSecKeyPtr key, xmlSecKeyDataPtr value) = 0;
  virtual int KeyAdoptData(xmlSecKeyPtr key, xmlSecKeyDataPtr data) = 0;

  // Signature template and the tree calls that build it.
  virtual xmlNodePtr TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                         const xmlChar* id) = 0;
  virtual xmlNodePtr AddChild(xmlNodePtr parent, xmlNodePtr child) = 0;  // xmlAddChild
  virtual xmlNodePtr TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest, const xmlChar* id,
                                               const xmlChar* uri, const xmlChar* type) = 0;
  virtual xmlNodePtr TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) = 0;
  virtual xmlNodePtr TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                            const xmlChar* encoding) = 0;
  virtual xmlNodePtr TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id, const xmlChar* target) = 0;
  virtual xmlNodePtr NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) = 0;
  virtual xmlNsPtr NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) = 0;
  virtual xmlNodePtr TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) = 0;
  virtual xmlNodePtr TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) = 0;
  virtual xmlNodePtr TmplX509DataAddCertificate(xmlNodePtr x509Data) = 0;
  virtual xmlNodePtr TmplX509DataAddSubjectName(xmlNodePtr x509Data) = 0;
  virtual xmlNodePtr TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) = 0;

  // Signing.
  virtual xmlSecDSigCtxPtr DSigCtxCreate(xmlSecKeysMngrPtr keysManager) = 0;
  virtual void DSigCtxDestroy(xmlSecDSigCtxPtr context) = 0;
  // Makes the context write no key data into KeyInfo when it signs, leaving it to the caller.
  virtual int DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) = 0;
  virtual int DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) = 0;

 protected:
  ~SignatureLibrary() = default;
};

// The real libraries: xmlsec core, the platform's xmlsec crypto back end and libxml2. The core and
// tree calls are defined in signature_library.cpp, the back-end calls in the one back-end source
// the platform builds. Not final, so a test can derive from it and fail one call.
class XmlSecLibrary : public SignatureLibrary {
 public:
  int Init() override;
  int CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) override;
  int Shutdown() override;
  void ErrorsSetCallback(xmlSecErrorsCallback callback) override;

  int CryptoAppInit(const char* config) override;
  int CryptoInit() override;
  int CryptoShutdown() override;
  int CryptoAppShutdown() override;
  xmlSecTransformId TransformRsaSha1() override;
  xmlSecTransformId TransformSha1() override;
  xmlSecKeyDataId KeyDataX509() override;
  int KeyDataX509AdoptKeyCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) override;
  int KeyDataX509AdoptCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) override;
  xmlSecKeyDataPtr CertAdopt(PCCERT_CONTEXT certificate, xmlSecKeyDataType type) override;

  xmlSecKeyDataPtr KeyDataCreate(xmlSecKeyDataId id) override;
  void KeyDataDestroy(xmlSecKeyDataPtr data) override;
  xmlSecKeyPtr KeyCreate() override;
  void KeyDestroy(xmlSecKeyPtr key) override;
  int KeySetValue(xmlSecKeyPtr key, xmlSecKeyDataPtr value) override;
  int KeyAdoptData(xmlSecKeyPtr key, xmlSecKeyDataPtr data) override;

  xmlNodePtr TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                 const xmlChar* id) override;
  xmlNodePtr AddChild(xmlNodePtr parent, xmlNodePtr child) override;
  xmlNodePtr TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest, const xmlChar* id,
                                       const xmlChar* uri, const xmlChar* type) override;
  xmlNodePtr TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) override;
  xmlNodePtr TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                    const xmlChar* encoding) override;
  xmlNodePtr TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id, const xmlChar* target) override;
  xmlNodePtr NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) override;
  xmlNsPtr NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) override;
  xmlNodePtr TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) override;
  xmlNodePtr TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) override;
  xmlNodePtr TmplX509DataAddCertificate(xmlNodePtr x509Data) override;
  xmlNodePtr TmplX509DataAddSubjectName(xmlNodePtr x509Data) override;
  xmlNodePtr TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) override;

  xmlSecDSigCtxPtr DSigCtxCreate(xmlSecKeysMngrPtr keysManager) override;
  void DSigCtxDestroy(xmlSecDSigCtxPtr context) override;
  int DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) override;
  int DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) override;

  virtual ~XmlSecLibrary() = default;
};

// The library the component uses: the real one unless a test has put another in place.
SignatureLibrary& ActiveSignatureLibrary();

// For tests: puts `library` in place for the lifetime of the guard.
class ScopedSignatureLibrary {
 public:
  explicit ScopedSignatureLibrary(SignatureLibrary& library);
  ~ScopedSignatureLibrary();
  ScopedSignatureLibrary(const ScopedSignatureLibrary&) = delete;
  ScopedSignatureLibrary& operator=(const ScopedSignatureLibrary&) = delete;

 private:
  SignatureLibrary* previous_;
};

}  // namespace quillbox
