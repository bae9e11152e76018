// Sign: from the input checks to the signed document in XmlDoc, with one clean-up on every path.
#include "component/signature.h"

#include "component/bstr.h"
#include "component/call_budget.h"
#include "component/error_report.h"
#include "component/quiet_xml_errors.h"
#include "component/xml_library_use.h"
#include "component/xml_text.h"
#include "server/protected_mode.h"
#include "signing/crypto_session.h"
#include "signing/signature_library.h"
#include "signing/signature_template.h"
#include "signing/x509_data_completion.h"

#include <memory>
#include <optional>

namespace quillbox {
namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;

struct CertificateFreer {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

struct KeyDestroyer {
  void operator()(xmlSecKeyPtr key) const { ActiveSignatureLibrary().KeyDestroy(key); }
};
using UniqueKey = std::unique_ptr<xmlSecKey, KeyDestroyer>;

// The context never owns the key: it is taken out before the context goes, so destroying the
// context leaves the key to its own owner.
struct ContextDestroyer {
  void operator()(xmlSecDSigCtxPtr context) const {
    context->signKey = nullptr;
    ActiveSignatureLibrary().DSigCtxDestroy(context);
  }
};
using UniqueContext = std::unique_ptr<xmlSecDSigCtx, ContextDestroyer>;

// The whole document as the XML library writes it, read back into a new BSTR; null on failure.
// The tree goes (after the context that still points into it) as soon as it is written out, so a
// large document is never held as tree, serialised bytes and BSTR at once.
//
// In an encoding other than UTF-8 and UTF-16 the text read back is checked against the document
// written in UTF-8: a converter that reads a byte back as another character than it wrote would
// otherwise hand back a document other than the one signed, one that no longer verifies.
BSTR SerialiseDocument(UniqueXmlDoc& doc, UniqueContext& context) {
  const std::optional<SerializedXml> serialised = SerializeXml(doc.get());
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
  const std::u16string_view written(text.get(), SysStringLen(text.get()));
  if (!SameDocumentText(written, std::u16string_view(expected.get(), SysStringLen(expected.get())))) return nullptr;
  return text.release();
}

}  // namespace

bool Signature::CheckSignInputs() {
  if (XmlDoc_ == nullptr) {
    SetError(Error::XmlDocEmpty);
    return false;
  }
  if (CertFindOption_ == FindByIssuerSerial && (CertSerial_ == nullptr || CertIssuerName_ == nullptr)) {
    SetError(Error::CertUniqueIdEmpty);
    return false;
  }
  if (CertFindOption_ == FindBySubject && CertSubject_ == nullptr) {
    SetError(Error::CertSubjectEmpty);
    return false;
  }
  return true;
}

HRESULT Signature::Sign(VARIANT_BOOL* pvbResult) {
  // First in, last out: the libraries' settings and hooks are put back after the session ends
  // (xmlsec's end leaves its own entity loader installed), and no other thread's call runs in
  // between. Canonicalisation's diagnostics are the host's business no more than the parser's.
  // Taken only once the call reaches the libraries: a call that stops at its checks leaves them
  // untouched, not even initialised.
  std::optional<XmlLibraryUse> libraries;
  std::optional<QuietXmlErrors> quiet;
  // Whatever a step returned once the call's budget is spent is incomplete: that step failed.
  std::optional<CallBudget> budget;
  VARIANT_BOOL ignored = VARIANT_FALSE;
  VARIANT_BOOL& result = pvbResult != nullptr ? *pvbResult : ignored;
  result = VARIANT_FALSE;
  ClearErrorState();

  // Declared in the reverse of the clean-up order: leaving this scope closes the store, frees the
  // certificate, destroys the context, then the key, the texts and the document, and ends the
  // library session last, whichever step stopped the call.
  const CryptoSessionEnd sessionEnd;
  UniqueXmlDoc doc;
  Utf8Text documentText;
  UniqueKey key;
  UniqueContext context;
  UniqueCertificate certificate;
  UniqueStore store;

  if (IsProtectedMode()) {
    SetError(Error::AccessDenied);
    return S_OK;
  }
  if (!CheckSignInputs()) return S_OK;
  libraries.emplace();
  quiet.emplace();
  budget.emplace(SysStringByteLen(XmlDoc_));
  if (StartCryptoSession() != 0) return S_OK;

  SignatureLibrary& library = ActiveSignatureLibrary();
  library.ErrorsSetCallback(CryptoErrorCallback);

  documentText = XmlTextOf(XmlDoc_);
  doc = ParseUntrustedXml(documentText);
  documentText = Utf8Text();  // the tree holds the document from here on
  if (!doc || budget->Exceeded() || !SerialisesWellFormed(doc.get())) {
    SetError(Error::ParsingXml);
    return S_OK;
  }

  xmlNodePtr signature = BuildSignatureTemplate(doc.get(), Advanced_, UserName_, LocalTimeStamp_);
  if (signature == nullptr) return S_OK;

  store.reset(CertOpenSystemStoreA(0, "MY"));
  if (!store) {
    SetError(Error::OpenCertStore);
    return S_OK;
  }

  certificate.reset(FindCertificate(store.get()));
  if (!certificate) return S_OK;

  // X509Data is written here, not by the library: xmlsec 1.2.37's NSS back end cannot write a
  // serial number longer than eight bytes (most CA-issued certificates have 16 to 20) and fails
  // the whole signature over it. KeyInfo lies outside SignedInfo, so who writes it does not change
  // what is signed.
  context.reset(library.DSigCtxCreate(nullptr));
  if (!context || library.DSigCtxLeaveKeyInfo(context.get()) < 0) {
    SetError(Error::CreatingSigContext);
    return S_OK;
  }

  key.reset(CreateSigningKey(certificate.get()));
  if (!key) return S_OK;

  context->signKey = key.get();
  if (library.DSigCtxSign(context.get(), signature) != 0 || !CompleteX509Data(signature, certificate.get()) ||
      budget->Exceeded()) {
    SetError(Error::SigningDoc);
    return S_OK;
  }

  UniqueBstr signedDocument(SerialiseDocument(doc, context));
  if (signedDocument && budget->Exceeded()) signedDocument.reset();
  if (!signedDocument) {
    // Nothing to hand back: report it rather than empty XmlDoc under a success.
    SetError(Error::SigningDoc);
    return S_OK;
  }
  AdoptXmlDoc(signedDocument.release());
  result = VARIANT_TRUE;
  return S_OK;
}

}  // namespace quillbox
