#include "support/sign_document.h"

#include "signing/signature_library.h"

#include <libxml/parser.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmldsig.h>

#include <memory>

namespace quillbox::test {
namespace {

struct DocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextDeleter {
  void operator()(xmlSecDSigCtx* context) const {
    context->signKey = nullptr;  // the caller's key
    xmlSecDSigCtxDestroy(context);
  }
};

}  // namespace

SignedDocument SignSmallDocument(xmlSecKeyPtr key, const std::string& xml) {
  SignedDocument result;
  SignatureLibrary& library = ActiveSignatureLibrary();
  std::unique_ptr<xmlDoc, DocDeleter> doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "doc.xml",
                                                        nullptr, 0));
  if (!doc) return result;
  xmlNodePtr signature = xmlSecTmplSignatureCreate(doc.get(), xmlSecTransformInclC14NId, library.TransformRsaSha1(),
                                                   nullptr);
  if (signature == nullptr) return result;
  xmlAddChild(xmlDocGetRootElement(doc.get()), signature);
  xmlNodePtr reference =
      xmlSecTmplSignatureAddReference(signature, library.TransformSha1(), nullptr, BAD_CAST "", nullptr);
  if (reference == nullptr || xmlSecTmplReferenceAddTransform(reference, xmlSecTransformEnvelopedId) == nullptr)
    return result;
  xmlNodePtr keyInfo = xmlSecTmplSignatureEnsureKeyInfo(signature, nullptr);
  xmlNodePtr x509 = keyInfo != nullptr ? xmlSecTmplKeyInfoAddX509Data(keyInfo) : nullptr;
  // Only the certificate: xmlsec 1.2.37 leaves X509SubjectName and X509IssuerSerial empty when the
  // certificate is asked for too (lsh123/xmlsec#616, fixed in 1.2.38).
  if (x509 == nullptr || xmlSecTmplX509DataAddCertificate(x509) == nullptr) return result;

  std::unique_ptr<xmlSecDSigCtx, ContextDeleter> context(xmlSecDSigCtxCreate(nullptr));
  if (!context) return result;
  context->signKey = key;
  result.status = xmlSecDSigCtxSign(context.get(), signature);
  if (result.status == 0) {
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc.get(), &text, &size);
    if (text != nullptr) result.xml.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
  }
  return result;
}

}  // namespace quillbox::test
