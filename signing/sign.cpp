// The Sign road, with one clean-up on every path.
#include "signing/sign.h"

#include "certs/cert_handles.h"
#include "signing/crypto_session.h"
#include "signing/signature_library.h"
#include "signing/signature_template.h"
#include "signing/signing_key.h"
#include "signing/x509_data_completion.h"
#include "signing/xmlsec_handles.h"
#include "xml/call_budget.h"
#include "xml/quiet_xml_errors.h"
#include "xml/xml_library_use.h"
#include "xml/xml_text.h"

#include <optional>

namespace quillbox {
namespace {

// The whole document as the XML library writes it, read back into a new BSTR; null on failure.
// The tree goes (after the context that still points into it) as soon as it is written out, so a
// large document is never held as tree, serialised bytes and BSTR at once.
//
// In an encoding other than UTF-8 and UTF-16 the text read back is checked against the document
// written in UTF-8: a converter that reads a byte back as another character than it wrote would
// otherwise hand back a document other than the one signed, one that no longer verifies.
BSTR SerialiseDocument(UniqueXmlDoc& doc, UniqueContext& context, std::size_t parsedBytes) {
  // The signed document is the parsed one and its signature, a few kilobytes.
  const std::optional<SerializedXml> serialised = SerializeXml(doc.get(), parsedBytes + parsedBytes / 64 + 16384);
  if (!serialised) return nullptr;
  const bool unicode = WrittenInUnicode(*serialised);
  std::optional<SerializedXml> reference;
  if (!unicode) {
    reference = SerializeXmlAsUtf8(doc.get());
    if (!reference) return nullptr;
  }
  context.reset();
  doc.reset();
  UniqueBstr text(SerializedXmlToBstr(*serialised));
  if (!text || unicode) return text.release();
  const UniqueBstr expected(SerializedXmlToBstr(*reference));
  if (!expected) return nullptr;
  const OleStringView written(text.get(), SysStringLen(text.get()));
  if (!SameDocumentText(written, OleStringView(expected.get(), SysStringLen(expected.get())))) return nullptr;
  return text.release();
}

// The first input Sign cannot go without that the request lacks; Error::None when all are there.
Error CheckSignRequest(const SignRequest& request) {
  if (request.xmlDoc == nullptr) return Error::XmlDocEmpty;
  const CertificateQuery& certificate = request.certificate;
  if (certificate.findOption == FindByIssuerSerial && (certificate.serial == nullptr || certificate.issuerName == nullptr))
    return Error::CertUniqueIdEmpty;
  if (certificate.findOption == FindBySubject && certificate.subject == nullptr) return Error::CertSubjectEmpty;
  return Error::None;
}

}  // namespace

Result<UniqueBstr> SignDocument(const SignRequest& request) {
  // First in, last out: the libraries' settings and hooks are put back after the session ends
  // (xmlsec's end leaves its own entity loader installed), and no other thread's call runs in
  // between. Canonicalisation's diagnostics are the host's business no more than the parser's.
  // Taken only once the call reaches the libraries: a call that stops at its checks leaves them
  // untouched, not even initialised.
  std::optional<XmlLibraryUse> libraries;
  std::optional<QuietXmlErrors> quiet;
  // Whatever a step returned once the call's budget is spent is incomplete: that step failed.
  std::optional<CallBudget> budget;

  // Declared in the reverse of the clean-up order: leaving this scope closes the store, frees the
  // certificate, destroys the context, then the key, the texts and the document, and ends the
  // library session last, whichever step stopped the call.
  const CryptoSessionEnd sessionEnd;
  UniqueXmlDoc doc;
  Utf8Text documentText;
  UniqueKey key;
  UniqueContext context;
  UniqueCertContext certificate;
  UniqueCertStore store;

  if (request.protectedMode) return Error::AccessDenied;
  if (const Error missing = CheckSignRequest(request); missing != Error::None) return missing;
  libraries.emplace();
  quiet.emplace();
  budget.emplace(SysStringByteLen(request.xmlDoc));
  if (const Error failed = StartCryptoSession(); failed != Error::None) return failed;

  SignatureLibrary& library = ActiveSignatureLibrary();
  library.ErrorsSetCallback(request.libraryReports);

  documentText = XmlTextOf(request.xmlDoc);
  doc = ParseUntrustedXml(documentText, 0, ParseFor::WritingBack);
  const std::size_t parsedBytes = documentText.view().size();
  documentText = Utf8Text();  // the tree holds the document from here on
  if (!doc || budget->Exceeded()) return Error::ParsingXml;

  Result<xmlNodePtr> signature =
      BuildSignatureTemplate(doc.get(), request.advanced, request.userName, request.localTimeStamp);
  if (!signature) return signature.error();

  store.reset(CertOpenSystemStoreA(0, "MY"));
  if (!store) return Error::OpenCertStore;

  Result<UniqueCertContext> found = FindCertificate(store.get(), request.certificate);
  if (!found) return found.error();
  certificate = std::move(found).value();

  // X509Data is written here, not by the library: xmlsec 1.2.37's NSS back end cannot write a
  // serial number longer than eight bytes (most CA-issued certificates have 16 to 20) and fails
  // the whole signature over it. KeyInfo lies outside SignedInfo, so who writes it does not change
  // what is signed.
  context.reset(library.DSigCtxCreate(nullptr));
  if (!context || library.DSigCtxLeaveKeyInfo(context.get()) < 0) return Error::CreatingSigContext;

  Result<UniqueKey> made = CreateSigningKey(certificate.get());
  if (!made) return made.error();
  key = std::move(made).value();

  context->signKey = key.get();
  if (library.DSigCtxSign(context.get(), signature.value()) != 0 ||
      !CompleteX509Data(signature.value(), certificate.get()) || budget->Exceeded())
    return Error::SigningDoc;

  UniqueBstr signedDocument(SerialiseDocument(doc, context, parsedBytes));
  // Nothing to hand back is a failure, never an empty XmlDoc under a success.
  if (!signedDocument || budget->Exceeded()) return Error::SigningDoc;
  return signedDocument;
}

}  // namespace quillbox
