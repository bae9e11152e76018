// verify: checks every XML signature of a document with xmlsec against the certificate that the
// signature carries. The component only signs; checking is the reader's side.
#include "host/cert_text.h"
#include "host/cli.h"
#include "host/commands.h"
#include "host/files.h"

#include <xmlsec/xmlsec.h>

#include <xmlsec/base64.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmltree.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace quillbox::host {
namespace {

struct DocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct KeyDeleter {
  void operator()(xmlSecKeyPtr key) const { xmlSecKeyDestroy(key); }
};
struct ContextDeleter {
  void operator()(xmlSecDSigCtxPtr context) const { xmlSecDSigCtxDestroy(context); }
};
struct XmlCharDeleter {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using UniqueDoc = std::unique_ptr<xmlDoc, DocDeleter>;
using UniqueKey = std::unique_ptr<xmlSecKey, KeyDeleter>;
using UniqueContext = std::unique_ptr<xmlSecDSigCtx, ContextDeleter>;
using UniqueXmlChars = std::unique_ptr<xmlChar, XmlCharDeleter>;

// The signature library and its NSS back end, without a certificate database: verification
// needs only the certificate in the document.
class SignatureLibrary {
 public:
  SignatureLibrary() {
    if (xmlSecInit() < 0) throw CommandError("the signature library cannot start");
    if (xmlSecCheckVersion() != 1 || xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0) {
      xmlSecShutdown();
      throw CommandError("the signature library's crypto back end cannot start");
    }
  }
  ~SignatureLibrary() {
    xmlSecCryptoShutdown();
    xmlSecCryptoAppShutdown();
    xmlSecShutdown();
  }
  SignatureLibrary(const SignatureLibrary&) = delete;
  SignatureLibrary& operator=(const SignatureLibrary&) = delete;
};

void CollectSignatures(xmlNodePtr node, std::vector<xmlNodePtr>& found) {
  for (xmlNodePtr child = node; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (xmlSecCheckNodeName(child, xmlSecNodeSignature, xmlSecDSigNs)) {
      found.push_back(child);
      continue;  // a signature inside a signature's Object is that signature's business
    }
    CollectSignatures(child->children, found);
  }
}

// The DER of the first X509Certificate in the signature's KeyInfo.
std::string CarriedCertificate(xmlNodePtr signature) {
  xmlNodePtr keyInfo = xmlSecFindChild(signature, xmlSecNodeKeyInfo, xmlSecDSigNs);
  xmlNodePtr data = keyInfo != nullptr ? xmlSecFindChild(keyInfo, xmlSecNodeX509Data, xmlSecDSigNs) : nullptr;
  xmlNodePtr certificate = data != nullptr ? xmlSecFindChild(data, xmlSecNodeX509Certificate, xmlSecDSigNs) : nullptr;
  if (certificate == nullptr) return "";
  UniqueXmlChars content(xmlNodeGetContent(certificate));
  if (!content) return "";
  std::string der(static_cast<std::size_t>(xmlStrlen(content.get())), '\0');
  xmlSecSize written = 0;
  if (xmlSecBase64Decode_ex(content.get(), reinterpret_cast<xmlSecByte*>(der.data()), der.size(), &written) < 0) return "";
  der.resize(written);
  return der;
}

// Only what an enveloped signature of this kind needs: no external or file references, and no
// transform that runs code (XSLT) or reaches out.
bool RestrictContext(xmlSecDSigCtxPtr context) {
  context->enabledReferenceUris =
      static_cast<xmlSecTransformUriType>(xmlSecTransformUriTypeEmpty | xmlSecTransformUriTypeSameDocument);
  const xmlSecTransformId referenceTransforms[] = {
      xmlSecTransformInclC14NId,    xmlSecTransformInclC14NWithCommentsId, xmlSecTransformExclC14NId,
      xmlSecTransformExclC14NWithCommentsId, xmlSecTransformEnvelopedId, xmlSecTransformSha1Id,
      xmlSecNssTransformSha256Id};
  const xmlSecTransformId signatureTransforms[] = {
      xmlSecTransformInclC14NId, xmlSecTransformInclC14NWithCommentsId, xmlSecTransformExclC14NId,
      xmlSecTransformExclC14NWithCommentsId, xmlSecTransformRsaSha1Id, xmlSecNssTransformRsaSha256Id};
  for (xmlSecTransformId id : referenceTransforms)
    if (xmlSecDSigCtxEnableReferenceTransform(context, id) < 0) return false;
  for (xmlSecTransformId id : signatureTransforms)
    if (xmlSecDSigCtxEnableSignatureTransform(context, id) < 0) return false;
  return true;
}

struct Outcome {
  bool valid = false;
  std::string reason;
};

Outcome VerifyOne(xmlNodePtr signature, const std::string& der) {
  if (der.empty()) return {false, "the signature carries no certificate"};
  UniqueKey key(xmlSecCryptoAppKeyLoadMemory(reinterpret_cast<const xmlSecByte*>(der.data()), der.size(),
                                             xmlSecKeyDataFormatCertDer, nullptr, nullptr, nullptr));
  if (!key) return {false, "the carried certificate holds no usable key"};
  UniqueContext context(xmlSecDSigCtxCreate(nullptr));
  if (!context || !RestrictContext(context.get())) return {false, "the signature library failed"};
  // With the key set, the signature is checked against this certificate and no other.
  context->signKey = key.release();
  if (xmlSecDSigCtxVerify(context.get(), signature) < 0) return {false, "the signature cannot be processed"};
  if (context->status != xmlSecDSigStatusSucceeded) return {false, "the signature does not match the document"};
  return {true, ""};
}

// The library's own reports go nowhere; the command says what failed in its own words.
void QuietErrors(const char*, int, const char*, const char*, const char*, int, const char*) {}

}  // namespace

int VerifyCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {});
  if (options.Has("--help")) {
    std::fputs(HelpOf("verify").c_str(), stdout);
    return 0;
  }
  if (options.Positionals().size() != 1) throw UsageError("name one signed document");
  const std::string& path = options.Positionals().front();
  const std::string bytes = ReadAll(path);

  SignatureLibrary library;
  xmlSecErrorsSetCallback(QuietErrors);
  // The document's own declaration names its encoding; nothing outside it is loaded.
  constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  UniqueDoc doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path == "-" ? "stdin" : path.c_str(),
                              nullptr, kOptions));
  if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) throw CommandError(path + " is not a well-formed XML document");
  const xmlChar* idAttributes[] = {BAD_CAST "Id", nullptr};
  xmlSecAddIDs(doc.get(), xmlDocGetRootElement(doc.get()), idAttributes);

  std::vector<xmlNodePtr> signatures;
  CollectSignatures(xmlDocGetRootElement(doc.get()), signatures);
  if (signatures.empty()) {
    std::fprintf(stderr, "%s: no XML signature found\n", path.c_str());
    return 1;
  }
  bool allValid = true;
  for (std::size_t i = 0; i < signatures.size(); ++i) {
    const std::string der = CarriedCertificate(signatures[i]);
    const Outcome outcome = VerifyOne(signatures[i], der);
    allValid = allValid && outcome.valid;
    std::printf("signature %zu: %s\n", i + 1, outcome.valid ? "valid" : ("INVALID: " + outcome.reason).c_str());
    if (const auto texts = TextsOfCertificate(der)) {
      std::printf("  subject: %s\n  issuer:  %s\n  serial:  %s\n", texts->subject.c_str(), texts->issuer.c_str(),
                  texts->serial.c_str());
    }
  }
  return allValid ? 0 : 1;
}

}  // namespace quillbox::host
