#include "signing/crypto_session.h"

#include "signing/signature_library.h"

#include <libxml/globals.h>
#include <libxml/parser.h>

namespace quillbox {
namespace {

// The XML library release the component is built against (2.6.30). xmlCheckVersion only reports
// a mismatch through libxml2's generic error channel; it never stops the process, and its outcome
// does not decide anything here.
constexpr int kBuiltAgainstLibxml = 20630;

}  // namespace

Error StartCryptoSession() {
  xmlCheckVersion(kBuiltAgainstLibxml);
  xmlLoadExtDtdDefaultValue = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
  xmlSubstituteEntitiesDefault(1);
  xmlIndentTreeOutput = 1;

  SignatureLibrary& library = ActiveSignatureLibrary();
  if (library.Init() < 0) return Error::InitXmlSec;
  if (library.CheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible) != 1) return Error::XmlSecVersion;
  if (library.CryptoAppInit(nullptr) < 0) return Error::InitCrypto;
  if (library.CryptoInit() < 0) return Error::InitXmlSecCrypto;
  return Error::None;
}

void EndCryptoSession() {
  SignatureLibrary& library = ActiveSignatureLibrary();
  library.CryptoShutdown();
  library.CryptoAppShutdown();
  library.Shutdown();
}

}  // namespace quillbox
