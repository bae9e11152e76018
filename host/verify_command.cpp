// verify: checks every XML signature of a document with xmlsec against the signer's certificate
// that the signature carries (also when KeyInfo carries the whole chain, in any order). The
// component only signs; checking is the reader's side.
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

#include <secerr.h>
#include <secport.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
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

std::string Content(xmlNodePtr node) {
  UniqueXmlChars content(xmlNodeGetContent(node));
  return content ? std::string(reinterpret_cast<const char*>(content.get())) : std::string();
}

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

std::vector<xmlNodePtr> DsigChildren(xmlNodePtr parent, const xmlChar* name) {
  std::vector<xmlNodePtr> found;
  for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next)
    if (child->type == XML_ELEMENT_NODE && xmlSecCheckNodeName(child, name, xmlSecDSigNs)) found.push_back(child);
  return found;
}

// What the signature's KeyInfo says about its certificates: every X509Certificate (DER, in
// document order) and the names by which the signer's is pointed out.
struct KeyInfoCertificates {
  std::vector<std::string> certificates;
  std::vector<std::pair<std::string, std::string>> issuerSerials;  // issuer name, decimal serial
  std::vector<std::string> subjectNames;
};

std::string DecodedCertificate(xmlNodePtr node) {
  const std::string text = Content(node);
  std::string der(text.size(), '\0');
  xmlSecSize written = 0;
  if (xmlSecBase64Decode_ex(BAD_CAST text.c_str(), reinterpret_cast<xmlSecByte*>(der.data()), der.size(), &written) < 0)
    return "";
  der.resize(written);
  return der;
}

KeyInfoCertificates ReadKeyInfo(xmlNodePtr signature) {
  KeyInfoCertificates info;
  for (xmlNodePtr keyInfo : DsigChildren(signature, xmlSecNodeKeyInfo)) {
    for (xmlNodePtr data : DsigChildren(keyInfo, xmlSecNodeX509Data)) {
      for (xmlNodePtr certificate : DsigChildren(data, xmlSecNodeX509Certificate)) {
        std::string der = DecodedCertificate(certificate);
        if (!der.empty()) info.certificates.push_back(std::move(der));
      }
      for (xmlNodePtr issuerSerial : DsigChildren(data, xmlSecNodeX509IssuerSerial)) {
        const auto names = DsigChildren(issuerSerial, xmlSecNodeX509IssuerName);
        const auto numbers = DsigChildren(issuerSerial, xmlSecNodeX509SerialNumber);
        if (!numbers.empty())
          info.issuerSerials.emplace_back(names.empty() ? "" : Trimmed(Content(names.front())),
                                          Trimmed(Content(numbers.front())));
      }
      for (xmlNodePtr subject : DsigChildren(data, xmlSecNodeX509SubjectName))
        info.subjectNames.push_back(Trimmed(Content(subject)));
    }
  }
  return info;
}

// A decimal number as the bytes of its magnitude, most significant first, without leading zero
// bytes; nullopt when the text is not a decimal number.
std::optional<std::string> DecimalMagnitude(std::string_view decimal) {
  if (decimal.empty()) return std::nullopt;
  std::string bytes;  // least significant first while building
  for (char digit : decimal) {
    if (digit < '0' || digit > '9') return std::nullopt;
    unsigned carry = static_cast<unsigned>(digit - '0');
    for (char& byte : bytes) {
      const unsigned value = static_cast<unsigned char>(byte) * 10u + carry;
      byte = static_cast<char>(value & 0xFF);
      carry = value >> 8;
    }
    if (carry != 0) bytes.push_back(static_cast<char>(carry));
  }
  return std::string(bytes.rbegin(), bytes.rend());
}

// A DER integer's content without the zero bytes that keep it positive.
std::string_view Magnitude(std::string_view integer) {
  while (!integer.empty() && integer.front() == '\0') integer.remove_prefix(1);
  return integer;
}

// A distinguished name as different signers write it: the component and xmlsec put a blank after
// each comma, RFC 2253 writers do not, and attribute keys come in either case.
std::string NameKey(std::string_view name) {
  std::string key;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == ' ' && (key.empty() || key.back() == ',' || key.back() == '+' || key.back() == ';')) continue;
    if (c == ' ' && i + 1 < name.size() && (name[i + 1] == ',' || name[i + 1] == '+' || name[i + 1] == ';')) continue;
    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}

CERT_NAME_BLOB NameBlob(std::string_view der) {
  return CERT_NAME_BLOB{static_cast<DWORD>(der.size()), reinterpret_cast<BYTE*>(const_cast<char*>(der.data()))};
}

// The signer's certificate among those KeyInfo carries, whatever their order: the one that
// X509IssuerSerial names, else the one X509SubjectName names, else the one that issued none of
// the others (the end of the chain); empty when none is carried.
std::string SignerCertificate(const KeyInfoCertificates& info) {
  const std::vector<std::string>& all = info.certificates;
  if (all.size() <= 1) return all.empty() ? "" : all.front();
  std::vector<std::optional<CertificateFields>> fields;
  fields.reserve(all.size());
  for (const std::string& der : all) fields.push_back(ReadCertificateFields(der));

  for (const auto& [issuerName, serial] : info.issuerSerials) {
    const auto wanted = DecimalMagnitude(serial);
    if (!wanted) continue;
    std::vector<std::size_t> sameSerial;
    for (std::size_t i = 0; i < all.size(); ++i)
      if (fields[i] && Magnitude(fields[i]->serial) == *wanted) sameSerial.push_back(i);
    for (std::size_t i : sameSerial)
      if (NameKey(NameText(NameBlob(fields[i]->issuer))) == NameKey(issuerName)) return all[i];
    if (sameSerial.size() == 1) return all[sameSerial.front()];
  }
  for (const std::string& subject : info.subjectNames) {
    for (std::size_t i = 0; i < all.size(); ++i)
      if (fields[i] && NameKey(NameText(NameBlob(fields[i]->subject))) == NameKey(subject)) return all[i];
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!fields[i]) continue;
    bool issuedAnother = false;
    for (std::size_t j = 0; j < all.size() && !issuedAnother; ++j)
      issuedAnother = j != i && fields[j] && fields[j]->issuer == fields[i]->subject;
    if (!issuedAnother) return all[i];
  }
  return all.front();
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

// The references of SignedInfo were all checked and all matched their content.
bool EveryReferenceMatched(xmlSecDSigCtxPtr context) {
  const xmlSecSize count = xmlSecPtrListGetSize(&context->signedInfoReferences);
  if (count == 0) return false;
  for (xmlSecSize i = 0; i < count; ++i) {
    const auto* reference = static_cast<xmlSecDSigReferenceCtxPtr>(xmlSecPtrListGetItem(&context->signedInfoReferences, i));
    if (reference == nullptr || reference->status != xmlSecDSigStatusSucceeded) return false;
  }
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
  PORT_SetError(0);
  const int processed = xmlSecDSigCtxVerify(context.get(), signature);
  if (processed == 0 && context->status == xmlSecDSigStatusSucceeded) return {true, ""};
  if (!EveryReferenceMatched(context.get())) {
    if (processed < 0) return {false, "the signature cannot be processed"};
    return {false, "the signature does not match the document"};
  }
  // Every reference matched, so what failed is the signature value. xmlsec 1.2.37's NSS back end
  // reports a value that does not verify as an error (SEC_ERROR_BAD_SIGNATURE) rather than as an
  // invalid signature.
  if (processed == 0 || PORT_GetError() == SEC_ERROR_BAD_SIGNATURE)
    return {false, "the signature value does not match the signed content and the certificate's key"};
  return {false, "the signature cannot be processed"};
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
    const std::string der = SignerCertificate(ReadKeyInfo(signatures[i]));
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
