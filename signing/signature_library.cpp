// The core-library and tree calls of the real signature library, and the active-library switch.
// The crypto back-end calls live in xmlsec_nss_library.cpp.
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
  static XmlSecNssLibrary real;
  static SignatureLibrary* active = &real;
  return active;
}

}  // namespace

SignatureLibrary& ActiveSignatureLibrary() { return *ActiveSlot(); }

ScopedSignatureLibrary::ScopedSignatureLibrary(SignatureLibrary& library) : previous_(ActiveSlot()) {
  ActiveSlot() = &library;
}
ScopedSignatureLibrary::~ScopedSignatureLibrary() { ActiveSlot() = previous_; }

int XmlSecNssLibrary::Init() {
  const int result = xmlSecInit();
  if (result >= 0) coreStarted = true;
  return result;
}
int XmlSecNssLibrary::CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) {
  return xmlSecCheckVersionExt(major, minor, subminor, mode);
}
int XmlSecNssLibrary::Shutdown() {
  if (!coreStarted) return 0;
  coreStarted = false;
  return xmlSecShutdown();
}
void XmlSecNssLibrary::ErrorsSetCallback(xmlSecErrorsCallback callback) { xmlSecErrorsSetCallback(callback); }

xmlSecKeyDataPtr XmlSecNssLibrary::KeyDataCreate(xmlSecKeyDataId id) { return xmlSecKeyDataCreate(id); }
void XmlSecNssLibrary::KeyDataDestroy(xmlSecKeyDataPtr data) { xmlSecKeyDataDestroy(data); }
xmlSecKeyPtr XmlSecNssLibrary::KeyCreate() { return xmlSecKeyCreate(); }
void XmlSecNssLibrary::KeyDestroy(xmlSecKeyPtr key) { xmlSecKeyDestroy(key); }
int XmlSecNssLibrary::KeySetValue(xmlSecKeyPtr key, xmlSecKeyDataPtr value) { return xmlSecKeySetValue(key, value); }
int XmlSecNssLibrary::KeyAdoptData(xmlSecKeyPtr key, xmlSecKeyDataPtr data) { return xmlSecKeyAdoptData(key, data); }

xmlNodePtr XmlSecNssLibrary::TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                                 const xmlChar* id) {
  return xmlSecTmplSignatureCreate(doc, c14n, sign, id);
}
xmlNodePtr XmlSecNssLibrary::AddChild(xmlNodePtr parent, xmlNodePtr child) { return xmlAddChild(parent, child); }
xmlNodePtr XmlSecNssLibrary::TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest,
                                                       const xmlChar* id, const xmlChar* uri, const xmlChar* type) {
  return xmlSecTmplSignatureAddReference(signature, digest, id, uri, type);
}
xmlNodePtr XmlSecNssLibrary::TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) {
  return xmlSecTmplReferenceAddTransform(reference, transform);
}
xmlNodePtr XmlSecNssLibrary::TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                                    const xmlChar* encoding) {
  return xmlSecTmplSignatureAddObject(signature, id, mimeType, encoding);
}
xmlNodePtr XmlSecNssLibrary::TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id,
                                                         const xmlChar* target) {
  return xmlSecTmplObjectAddSignProperties(object, id, target);
}
xmlNodePtr XmlSecNssLibrary::NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) {
  return xmlNewChild(parent, ns, name, content);
}
xmlNsPtr XmlSecNssLibrary::NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) {
  return xmlNewNs(node, href, prefix);
}
xmlNodePtr XmlSecNssLibrary::TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) {
  return xmlSecTmplSignatureEnsureKeyInfo(signature, id);
}
xmlNodePtr XmlSecNssLibrary::TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) { return xmlSecTmplKeyInfoAddX509Data(keyInfo); }
xmlNodePtr XmlSecNssLibrary::TmplX509DataAddCertificate(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddCertificate(x509Data);
}
xmlNodePtr XmlSecNssLibrary::TmplX509DataAddSubjectName(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddSubjectName(x509Data);
}
xmlNodePtr XmlSecNssLibrary::TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) {
  return xmlSecTmplX509DataAddIssuerSerial(x509Data);
}

xmlSecDSigCtxPtr XmlSecNssLibrary::DSigCtxCreate(xmlSecKeysMngrPtr keysManager) {
  return xmlSecDSigCtxCreate(keysManager);
}
void XmlSecNssLibrary::DSigCtxDestroy(xmlSecDSigCtxPtr context) { xmlSecDSigCtxDestroy(context); }
int XmlSecNssLibrary::DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) {
  // A context's own list of enabled key data replaces the library's. KeyName is the one entry:
  // the template never holds a KeyName, so the writer finds nothing in KeyInfo that it would fill.
  const void* keyName = xmlSecKeyDataNameId;
  return xmlSecPtrListAdd(&context->keyInfoWriteCtx.enabledKeyData, const_cast<void*>(keyName));
}
int XmlSecNssLibrary::DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) {
  return xmlSecDSigCtxSign(context, signature);
}

}  // namespace quillbox
