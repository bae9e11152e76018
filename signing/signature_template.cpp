#include "signing/signature_template.h"

#include "common/bstr.h"
#include "signing/property_text.h"
#include "signing/signature_library.h"

#include <objbase.h>

#include <libxml/parserInternals.h>

#include <xmlsec/templates.h>
#include <xmlsec/transforms.h>

#include <memory>
#include <optional>

namespace quillbox {
namespace {

constexpr std::size_t kGuidTextUnits = 36;

struct TaskMemDeleter {
  void operator()(OLECHAR* text) const { CoTaskMemFree(text); }
};

const xmlChar* Xml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }
const xmlChar* Xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

// Identifier texts are ASCII; they go to the libraries in the ANSI code page as the system's
// other narrow texts do, which leaves their letters as they are. Empty on failure.
std::string AnsiText(const OleString& text) {
  if (text.empty()) return {};
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text.data(), units, narrow.data(), bytes, nullptr, nullptr) != bytes) return {};
  return narrow;
}

// "prefix" followed by a fresh GUID text, narrow; empty when no GUID could be made.
std::string NewIdentifier(const char* prefix) {
  const OleString guid = CreateGuidText();
  if (guid.empty()) return {};
  const std::string narrow = AnsiText(guid);
  return narrow.empty() ? std::string() : prefix + narrow;
}

// UserName or LocalTimeStamp as an element of the client signature namespace under
// ClientSignature; a null property gives an element without content.
//
// A value that a signed document cannot carry so that it is read again fails the element, instead
// of making a document that looks signed and does not parse: an unpaired surrogate, a character
// XML does not allow, or more text than libxml2 reads back as one run (XML_MAX_TEXT_LENGTH bytes;
// it refuses a longer run that holds any non-ASCII character, the component's own parse of the
// signed document included). A value that is too long is refused before it is converted.
bool AddPropertyElement(SignatureLibrary& library, xmlNodePtr clientSignature, xmlNsPtr ns, const char* name,
                        BSTR value) {
  std::optional<std::string> content;
  if (value != nullptr) {
    const Utf8Text utf8 = BstrToUtf8(value, XML_MAX_TEXT_LENGTH);
    if (!utf8 || !IsXmlCharacterData(utf8.view())) return false;
    content = EscapeBareAmpersands(utf8.view());
  }
  return library.NewChild(clientSignature, ns, Xml(name), content ? Xml(*content) : nullptr) != nullptr;
}

// The Object with the signature properties, and the Reference that signs it. Error::None when
// they are in place.
Error AddSignatureProperties(SignatureLibrary& library, xmlNodePtr signature, const std::string& signatureId,
                            BSTR userName, BSTR localTimeStamp) {
  const std::string objectId = NewIdentifier(kSignPropIdPrefix);
  xmlNodePtr object = objectId.empty() ? nullptr : library.TmplSignatureAddObject(signature, Xml(objectId), nullptr, nullptr);
  if (object == nullptr) return Error::AddingObjectNode;

  xmlNodePtr properties = library.TmplObjectAddSignProperties(object, nullptr, nullptr);
  if (properties == nullptr) return Error::AddingPropertiesNode;

  // The schema requires a Target on SignatureProperty: the Signature element these properties
  // belong to, by its Id.
  xmlNodePtr property = library.NewChild(properties, nullptr, Xml("SignatureProperty"), nullptr);
  const std::string target = "#" + signatureId;
  if (property == nullptr || xmlSetProp(property, Xml("Target"), Xml(target)) == nullptr)
    return Error::AddingPropertyNode;

  xmlNodePtr clientSignature = library.NewChild(property, nullptr, Xml("ClientSignature"), nullptr);
  if (clientSignature == nullptr) return Error::AddingKvPropNode;

  xmlNsPtr ns = library.NewNs(clientSignature, Xml(kClientSignatureNamespace), nullptr);
  if (ns == nullptr) return Error::AddingKvNamespace;
  // xmlNewNs only declares the namespace; ClientSignature itself is put in it too.
  xmlSetNs(clientSignature, ns);

  if (!AddPropertyElement(library, clientSignature, ns, "UserName", userName) ||
      !AddPropertyElement(library, clientSignature, ns, "LocalTimeStamp", localTimeStamp))
    return Error::AddingKvCustomNode;

  const std::string uri = "#" + objectId;
  if (library.TmplSignatureAddReference(signature, library.TransformSha1(), nullptr, Xml(uri), nullptr) == nullptr)
    return Error::AddingEnvelopingRef;
  return Error::None;
}

}  // namespace

OleString CreateGuidText() {
  GUID guid{};
  if (FAILED(CoCreateGuid(&guid))) return {};
  OLECHAR* raw = nullptr;
  if (FAILED(StringFromIID(guid, &raw)) || raw == nullptr) return {};
  std::unique_ptr<OLECHAR, TaskMemDeleter> text(raw);
  const OleStringView braced(text.get());
  if (braced.size() != kGuidTextUnits + 2) return {};
  return OleString(braced.substr(1, kGuidTextUnits));
}

Result<xmlNodePtr> BuildSignatureTemplate(xmlDocPtr doc, VARIANT_BOOL advanced, BSTR userName, BSTR localTimeStamp) {
  SignatureLibrary& library = ActiveSignatureLibrary();

  const std::string signatureId = NewIdentifier(kSignatureIdPrefix);
  xmlNodePtr signature = signatureId.empty() ? nullptr
                                             : library.TmplSignatureCreate(doc, xmlSecTransformInclC14NId,
                                                                           library.TransformRsaSha1(), Xml(signatureId));
  if (signature == nullptr) return Error::CreatingSignNode;

  xmlNodePtr root = xmlDocGetRootElement(doc);
  if (root == nullptr || library.AddChild(root, signature) == nullptr) {
    // Not attached, so the document will not free it.
    xmlFreeNode(signature);
    return Error::AddingSignNode;
  }

  xmlNodePtr reference = library.TmplSignatureAddReference(signature, library.TransformSha1(), nullptr, Xml(""), nullptr);
  if (reference == nullptr) return Error::AddingEnvelopedRef;
  if (library.TmplReferenceAddTransform(reference, xmlSecTransformEnvelopedId) == nullptr)
    return Error::AddingEnvelopedTransform;

  if (advanced == VARIANT_TRUE) {
    const Error error = AddSignatureProperties(library, signature, signatureId, userName, localTimeStamp);
    if (error != Error::None) return error;
  }

  xmlNodePtr keyInfo = library.TmplSignatureEnsureKeyInfo(signature, nullptr);
  if (keyInfo == nullptr) return Error::AddingKeyInfoNode;
  xmlNodePtr x509Data = library.TmplKeyInfoAddX509Data(keyInfo);
  if (x509Data == nullptr) return Error::AddingX509DataNode;
  if (library.TmplX509DataAddCertificate(x509Data) == nullptr) return Error::AddingX509CertificateNode;
  if (library.TmplX509DataAddSubjectName(x509Data) == nullptr) return Error::AddingX509SubjectNode;
  if (library.TmplX509DataAddIssuerSerial(x509Data) == nullptr) return Error::AddingX509IssuerNode;
  return signature;
}

}  // namespace quillbox
