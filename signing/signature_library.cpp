// The core-library and tree calls of the real signature library, and the active-library switch.
// The crypto back-end calls live in the platform's back-end source (xmlsec_nss_library.cpp or
// xmlsec_mscrypto_library.cpp).
#include "signing/signature_library.h"

#include <xmlsec/keyinfo.h>
#include <xmlsec/list.h>
#include <xmlsec/templates.h>

namespace quillbox {
namespace {

// Whether xmlSecInit has succeeded without a matching xmlSecShutdown. xmlsec 1.2 is not safe to
// shut down when it is not running: the shutdown reports assertion failures through the error
// callback and leaves its registries in a state in which the next start of the crypto back end
// fails. The session's end is called on every path of Sign, also when the start never ran.
bool coreStarted = false;

SignatureLibrary*& ActiveSlot() {
  static XmlSecLibrary real;
  static SignatureLibrary* active = &real;
  return active;
}

}  // namespace

SignatureLibrary& ActiveSignatureLibrary() { return *ActiveSlot(); }

ScopedSignatureLibrary::ScopedSignatureLibrary(SignatureLibrary& library) : previous_(ActiveSlot()) {
  ActiveSlot() = &library;
}
ScopedSignatureLibrary::~ScopedSignatureLibrary() { ActiveSlot() = previous_; }

int XmlSecLibrary::Init() {
  const int result = xmlSecInit();
  if (result >= 0) coreStarted = true;
  return result;
}
int XmlSecLibrary::CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) {
  return xmlSecCheckVersionExt(major, minor, subminor, mode);
}
int XmlSecLibrary::Shutdown() {
  if (!coreStarted) return 0;
  coreStarted = false;
  return xmlSecShutdown();
}
void XmlSecLibrary::ErrorsSetCallback(xmlSecErrorsCallback callback) { xmlSecErrorsSetCallback(callback); }

xmlSecKeyDataPtr XmlSecLibrary::KeyDataCreate(xmlSecKeyDataId id) { return xmlSecKeyDataCreate(id); }
void XmlSecLibrary::KeyDataDestroy(xmlSecKeyDataPtr data) { xmlSecKeyDataDestroy(data); }
xmlSecKeyPtr XmlSecLibrary::KeyCreate() { return xmlSecKeyCreate(); }
void XmlSecLibrary::KeyDestroy(xmlSecKeyPtr key) { xmlSecKeyDestroy(key); }
int XmlSecLibrary::KeySetValue(xmlSecKeyPtr key, xmlSecKeyDataPtr value) { return xmlSecKeySetValue(key, value); }
int XmlSecLibrary::KeyAdoptData(xmlSecKeyPtr key, xmlSecKeyDataPtr data) { return xmlSecKeyAdoptData(key, data); }

xmlNodePtr XmlSecLibrary::TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                                 const xmlChar* id) {
  return xmlSecTmplSignatureCreate(doc, c14n, sign, id);
}
xmlNodePtr XmlSecLibrary::AddChild(xmlNodePtr parent, xmlNodePtr child) { return xmlAddChild(parent, child); }
xmlNodePtr XmlSecLibrary::TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest,
                                                       const xmlChar* id, const xmlChar* uri, const xmlChar* type) {
  return xmlSecTmplSignatureAddReference(signature, digest, id, uri, type);
}
xmlNodePtr XmlSecLibrary::TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) {
  return xmlSecTmplReferenceAddTransform(reference, transform);
}
xmlNodePtr XmlSecLibrary::TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                                    const xmlChar* encoding) {
  return xmlSecTmplSignatureAddObject(signature, id, mimeType, encoding);
}
xmlNodePtr XmlSecLibrary::TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id,
                                                         const xmlChar* target) {
  return xmlSecTmplObjectAddSignProperties(object, id, target);
}
xmlNodePtr XmlSecLibrary::NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) {
  return xmlNewChild(parent, ns, name, content);
}
xmlNsPtr XmlSecLibrary::NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) {
  return xmlNewNs(node, href, prefix);
}
xmlNodePtr XmlSecLibrary::TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) {
  return xmlSecTmplSignatureEnsureKeyInfo(signature, id);
}
xmlNodePtr XmlSecLibrary::TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) { return xmlSecTmplKeyInfoAddX509Data(keyInfo); }
xmlNodePtr XmlSecLibrary::TmplX509DataAddCertificate(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddCertificate(x509Data);
}
xmlNodePtr XmlSecLibrary::TmplX509DataAddSubjectName(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddSubjectName(x509Data);
}
xmlNodePtr XmlSecLibrary::TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddIssuerSerial(x509Data);
}

xmlSecDSigCtxPtr XmlSecLibrary::DSigCtxCreate(xmlSecKeysMngrPtr keysManager) {
  return xmlSecDSigCtxCreate(keysManager);
}
void XmlSecLibrary::DSigCtxDestroy(xmlSecDSigCtxPtr context) { xmlSecDSigCtxDestroy(context); }
int XmlSecLibrary::DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) {
  // A context's own list of enabled key data replaces the library's. KeyName is the one entry:
  // the template never holds a KeyName, so the writer finds nothing in KeyInfo that it would fill.
  const void* keyName = xmlSecKeyDataNameId;
  return xmlSecPtrListAdd(&context->keyInfoWriteCtx.enabledKeyData, const_cast<void*>(keyName));
}
int XmlSecLibrary::DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) {
  return xmlSecDSigCtxSign(context, signature);
}

}  // namespace quillbox
