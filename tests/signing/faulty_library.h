// The real signature library with one call made to fail, and a count of the calls that matter to
// the clean-up.
#pragma once

#include "signing/signature_library.h"

#include <map>
#include <string>

namespace quillbox::test {

class FaultyLibrary : public XmlSecLibrary {
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

  int Init() override { return Fails("Init") ? -1 : XmlSecLibrary::Init(); }
  int CheckVersionExt(int major, int minor, int subminor, xmlSecCheckVersionMode mode) override {
    return Fails("CheckVersionExt") ? 0 : XmlSecLibrary::CheckVersionExt(major, minor, subminor, mode);
  }
  int Shutdown() override {
    Counted("Shutdown");
    return XmlSecLibrary::Shutdown();
  }
  int CryptoAppInit(const char* config) override {
    return Fails("CryptoAppInit") ? -1 : XmlSecLibrary::CryptoAppInit(config);
  }
  int CryptoInit() override { return Fails("CryptoInit") ? -1 : XmlSecLibrary::CryptoInit(); }
  int CryptoShutdown() override {
    Counted("CryptoShutdown");
    return XmlSecLibrary::CryptoShutdown();
  }
  int CryptoAppShutdown() override {
    Counted("CryptoAppShutdown");
    return XmlSecLibrary::CryptoAppShutdown();
  }
  void ErrorsSetCallback(xmlSecErrorsCallback callback) override {
    Counted("ErrorsSetCallback");
    XmlSecLibrary::ErrorsSetCallback(callback);
  }

  xmlNodePtr TmplSignatureCreate(xmlDocPtr doc, xmlSecTransformId c14n, xmlSecTransformId sign,
                                 const xmlChar* id) override {
    return Fails("TmplSignatureCreate") ? nullptr : XmlSecLibrary::TmplSignatureCreate(doc, c14n, sign, id);
  }
  xmlNodePtr AddChild(xmlNodePtr parent, xmlNodePtr child) override {
    return Fails("AddChild") ? nullptr : XmlSecLibrary::AddChild(parent, child);
  }
  xmlNodePtr TmplSignatureAddReference(xmlNodePtr signature, xmlSecTransformId digest, const xmlChar* id,
                                       const xmlChar* uri, const xmlChar* type) override {
    return Fails("TmplSignatureAddReference") ? nullptr
                                              : XmlSecLibrary::TmplSignatureAddReference(signature, digest, id, uri, type);
  }
  xmlNodePtr TmplReferenceAddTransform(xmlNodePtr reference, xmlSecTransformId transform) override {
    return Fails("TmplReferenceAddTransform") ? nullptr : XmlSecLibrary::TmplReferenceAddTransform(reference, transform);
  }
  xmlNodePtr TmplSignatureAddObject(xmlNodePtr signature, const xmlChar* id, const xmlChar* mimeType,
                                    const xmlChar* encoding) override {
    return Fails("TmplSignatureAddObject") ? nullptr
                                           : XmlSecLibrary::TmplSignatureAddObject(signature, id, mimeType, encoding);
  }
  xmlNodePtr TmplObjectAddSignProperties(xmlNodePtr object, const xmlChar* id, const xmlChar* target) override {
    return Fails("TmplObjectAddSignProperties") ? nullptr : XmlSecLibrary::TmplObjectAddSignProperties(object, id, target);
  }
  xmlNodePtr NewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content) override {
    return Fails("NewChild") ? nullptr : XmlSecLibrary::NewChild(parent, ns, name, content);
  }
  xmlNsPtr NewNs(xmlNodePtr node, const xmlChar* href, const xmlChar* prefix) override {
    return Fails("NewNs") ? nullptr : XmlSecLibrary::NewNs(node, href, prefix);
  }
  xmlNodePtr TmplSignatureEnsureKeyInfo(xmlNodePtr signature, const xmlChar* id) override {
    return Fails("TmplSignatureEnsureKeyInfo") ? nullptr : XmlSecLibrary::TmplSignatureEnsureKeyInfo(signature, id);
  }
  xmlNodePtr TmplKeyInfoAddX509Data(xmlNodePtr keyInfo) override {
    return Fails("TmplKeyInfoAddX509Data") ? nullptr : XmlSecLibrary::TmplKeyInfoAddX509Data(keyInfo);
  }
  xmlNodePtr TmplX509DataAddCertificate(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddCertificate") ? nullptr : XmlSecLibrary::TmplX509DataAddCertificate(x509Data);
  }
  xmlNodePtr TmplX509DataAddSubjectName(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddSubjectName") ? nullptr : XmlSecLibrary::TmplX509DataAddSubjectName(x509Data);
  }
  xmlNodePtr TmplX509DataAddIssuerSerial(xmlNodePtr x509Data) override {
    return Fails("TmplX509DataAddIssuerSerial") ? nullptr : XmlSecLibrary::TmplX509DataAddIssuerSerial(x509Data);
  }

  xmlSecDSigCtxPtr DSigCtxCreate(xmlSecKeysMngrPtr keysManager) override {
    return Fails("DSigCtxCreate") ? nullptr : XmlSecLibrary::DSigCtxCreate(keysManager);
  }
  void DSigCtxDestroy(xmlSecDSigCtxPtr context) override {
    Counted("DSigCtxDestroy");
    XmlSecLibrary::DSigCtxDestroy(context);
  }
  int DSigCtxLeaveKeyInfo(xmlSecDSigCtxPtr context) override {
    return Fails("DSigCtxLeaveKeyInfo") ? -1 : XmlSecLibrary::DSigCtxLeaveKeyInfo(context);
  }
  int DSigCtxSign(xmlSecDSigCtxPtr context, xmlNodePtr signature) override {
    return Fails("DSigCtxSign") ? -1 : XmlSecLibrary::DSigCtxSign(context, signature);
  }
  xmlSecKeyPtr KeyCreate() override { return Fails("KeyCreate") ? nullptr : XmlSecLibrary::KeyCreate(); }
  void KeyDestroy(xmlSecKeyPtr key) override {
    Counted("KeyDestroy");
    XmlSecLibrary::KeyDestroy(key);
  }

 private:
  int Counted(const std::string& name) { return ++calls_[name]; }
  bool Fails(const std::string& name) { return Counted(name) == failOccurrence_ && name == failName_; }

  std::map<std::string, int> calls_;
  std::string failName_;
  int failOccurrence_ = 0;
};

}  // namespace quillbox::test
