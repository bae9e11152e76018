// The Sign road, from XmlDoc to the serialised signed document, against a throwaway store. The
// fuzzer controls the document and every property a script can set before Sign. Whatever it
// sends, Sign returns S_OK with a clear outcome; a failure leaves XmlDoc exactly as it was, and a
// success leaves a document that parses and carries the signature.
#include "common/bstr.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "xml/xml_text.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_environment.h"

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using namespace quillbox;
using quillbox::fuzz::Expect;

constexpr char kSignatureNamespace[] = "http://www.w3.org/2000/09/xmldsig#";

bool HasSignature(xmlNodePtr node) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (node->ns != nullptr && xmlStrEqual(node->name, BAD_CAST "Signature") &&
        xmlStrEqual(node->ns->href, BAD_CAST kSignatureNamespace))
      return true;
    if (HasSignature(node->children)) return true;
  }
  return false;
}

void Put(Signature& object, HRESULT (Signature::*put)(BSTR), BSTR value) {
  fuzz::Text owned(value);
  Expect(SUCCEEDED((object.*put)(owned.get())), "a property put failed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("QUILLBOX_DLL_PATH");  // no browser library, so never in protected mode
  fuzz::UseThrowawayStore();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  // Last byte: how to find the certificate and what kind of signature; the one before: which
  // strings are null or raw UTF-16.
  const auto how = data.ConsumeIntegral<std::uint8_t>();
  const auto kinds = data.ConsumeIntegral<std::uint8_t>();
  auto bit = [](std::uint8_t flags, int n) { return (flags >> n & 1) != 0; };

  Signature object;
  const bool bySubject = !bit(how, 0);
  object.put_CertFindOption(bySubject ? FindBySubject : FindByIssuerSerial);
  object.put_Advanced(bit(how, 1) ? VARIANT_TRUE : VARIANT_FALSE);
  Put(object, &Signature::put_XmlDoc, fuzz::ConsumeScriptString(data, size, false, bit(kinds, 0)));
  Put(object, &Signature::put_UserName, fuzz::ConsumeScriptString(data, 200, bit(kinds, 1), bit(kinds, 2)));
  Put(object, &Signature::put_LocalTimeStamp, fuzz::ConsumeScriptString(data, 100, bit(kinds, 3), bit(kinds, 4)));
  if (bySubject && !bit(how, 2)) {
    Put(object, &Signature::put_CertSubject, SysAllocString(fuzz::kSignerSubjectText));
  } else {
    Put(object, &Signature::put_CertSubject, fuzz::ConsumeScriptString(data, 40, bit(kinds, 5), false));
    Put(object, &Signature::put_CertIssuerName, fuzz::ConsumeScriptString(data, 80, bit(kinds, 6), false));
    Put(object, &Signature::put_CertSerial, fuzz::ConsumeScriptString(data, 40, bit(kinds, 7), false));
  }

  fuzz::Text before;
  object.get_XmlDoc(before.out());
  VARIANT_BOOL result = 7;
  Expect(object.Sign(&result) == S_OK, "Sign returned a failure status");
  fuzz::Text after;
  object.get_XmlDoc(after.out());
  const LONG error = TheErrorState()->ErrorNo;
  if (fuzz::Verbose()) std::fprintf(stderr, "Sign: %s, error %d\n", result == VARIANT_TRUE ? "signed" : "failed", static_cast<int>(error));

  if (result == VARIANT_FALSE) {
    Expect(error != 0, "a failed Sign left no error number");
    Expect((before.get() == nullptr) == (after.get() == nullptr) && before.view() == after.view(),
           "a failed Sign changed XmlDoc");
  } else {
    Expect(result == VARIANT_TRUE, "Sign's result is neither true nor false");
    Expect(error == 0, "a successful Sign left an error number");
    if (fuzz::Verbose()) std::fprintf(stderr, "%s\n", BstrToUtf8(after.get()).data());
    UniqueXmlDoc signedDoc = ParseUntrustedXml(BstrToUtf8(after.get()));
    Expect(signedDoc != nullptr, "the signed document does not parse");
    Expect(HasSignature(xmlDocGetRootElement(signedDoc.get())), "the signed document has no Signature");
  }
  return 0;
}
