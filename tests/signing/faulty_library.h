// The real signature library with one call made to fail, and a count of the calls that matter to
// the clean-up.
#pragma once

#include "signing/signature_library.h"

#include <map>
#include <string>

namespace quillbox::test {

class FaultyLibrary : public XmlSecNssLibrary {
 public:
  // Makes the `occurrence`-th call (1-based) of the method `name` fail.
  void FailAt(std::string name, int occurrence = 1) {
    failName_ = std::move(name);
    failOccurrence_ = occurrence;
  }
  int Calls(const std::string& name) const {
    const auto found = calls_.find(name);
    return found == calls_.end() ? 0 : found->second;
  }

  int Init() override { return Fails("Init") ? -1 : XmlSecNssLibrary::Init(); }
  int CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) override {
    return Fails("CheckVersionExt") ? 0 : XmlSecNssLibrary::CheckVersionExt(major, minor, subminor, mode);
  }
  int Shutdown() override {
    Counted("Shutdown");
    return XmlSecNssLibrary::Shutdown();
  }
  int CryptoAppInit(const char* config) override {
    return Fails("CryptoAppInit") ? -1 : XmlSecNssLibrary::CryptoAppInit(config);
  }
  int CryptoInit() override { return Fails("CryptoInit") ? -1 : XmlSecNssLibrary::CryptoInit(); }
  int CryptoShutdown() override {
    Counted("CryptoShutdown");
    return XmlSecNssLibrary::CryptoShutdown();
  }
  int CryptoAppShutdown() override {
    Counted("CryptoAppShutdown");
    return XmlSecNssLibrary::CryptoAppShutdown();
  }
  void ErrorsSetCallback(xmlSecErrorsCallback callback) override {
    Counted("ErrorsSetCallback");
    XmlSecNssLibrary::ErrorsSetCallback(callback);
  }

  xmlNodePtr TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                 const xmlChar* id) override {
    return Fails("TmplSignatureCreate") ? nullptr : XmlSecNssLibrary::TmplSignatureCreate(doc, c14n, sign, id);
  }
  xmlNodePtr AddChild(xmlNodePtr parent, xmlNodePtr child) override {
    return Fails("AddChild") ? nullptr : XmlSecNssLibrary::AddChild(parent, child);
  }
  xmlNodePtr TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest, const xmlChar* id,
                                       const xmlChar* uri, const xmlChar* type) override {
    return Fails("TmplSignatureAddReference") ? nullptr
                                              : XmlSecNssLibrary::TmplSignatureAddReference(signature, digest, id, uri, type);
  }
  xmlNodePtr TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) override {
    return Fails("TmplReferenceAddTransform") ? nullptr : XmlSecNssLibrary::TmplReferenceAddTransform(reference, transform);
  }
  xmlNodePtr TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                    const xmlChar* encoding) override {
    return Fails("TmplSignatureAddObject") ? nullptr
                                           : XmlSecNssLibrary::TmplSignatureAddObject(signature, id, mimeType, encoding);
  }
  xmlNodePtr TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id, const xmlChar* target) override {
    return Fails("TmplObjectAddSignProperties") ? nullptr : XmlSecNssLibrary::TmplObjectAddSignProperties(object, id, target);
  }
  xmlNodePtr NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) override {
    return Fails("NewChild") ? nullptr : XmlSecNssLibrary::NewChild(parent, ns, name, content);
  }
  xmlNsPtr NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) override {
    return Fails("NewNs") ? nullptr : XmlSecNssLibrary::NewNs(node, href, prefix);
  }
  xmlNodePtr TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) override {
    return Fails("TmplSignatureEnsureKeyInfo") ? nullptr : XmlSecNssLibrary::TmplSignatureEnsureKeyInfo(signature, id);
  }
  xmlNodePtr TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) override {
    return Fails("TmplKeyInfoAddX509Data") ? nullptr : XmlSecNssLibrary::TmplKeyInfoAddX509Data(keyInfo);
  }
  xmlNodePtr TmplX509DataAddCertificate(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddCertificate") ? nullptr : XmlSecNssLibrary::TmplX509DataAddCertificate(x509Data);
  }
  xmlNodePtr TmplX509DataAddSubjectName(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddSubjectName") ? nullptr : XmlSecNssLibrary::TmplX509DataAddSubjectName(x509Data);
  }
  xmlNodePtr TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddIssuerSerial") ? nullptr : XmlSecNssLibrary::TmplX509DataAddIssuerSerial(x509Data);
  }

  xmlSecDSigCtxPtr DSigCtxCreate(xmlSecKeysMngrPtr keysManager) override {
    return Fails("DSigCtxCreate") ? nullptr : XmlSecNssLibrary::DSigCtxCreate(keysManager);
  }
  void DSigCtxDestroy(xmlSecDSigCtxPtr context) override {
    Counted("DSigCtxDestroy");
    XmlSecNssLibrary::DSigCtxDestroy(context);
  }
  int DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) override {
    return Fails("DSigCtxLeaveKeyInfo") ? -1 : XmlSecNssLibrary::DSigCtxLeaveKeyInfo(context);
  }
  int DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) override {
    return Fails("DSigCtxSign") ? -1 : XmlSecNssLibrary::DSigCtxSign(context, signature);
  }
  xmlSecKeyPtr KeyCreate() override { return Fails("KeyCreate") ? nullptr : XmlSecNssLibrary::KeyCreate(); }
  void KeyDestroy(xmlSecKeyPtr key) override {
    Counted("KeyDestroy");
    XmlSecNssLibrary::KeyDestroy(key);
  }

 private:
  int Counted(const std::string& name) { return ++calls_[name]; }
  bool Fails(const std::string& name) { return Counted(name) == failOccurrence_ && name == failName_; }

  std::map<std::string, int> calls_;
  std::string failName_;
  int failOccurrence_ = 0;
};

}  // namespace quillbox::test
