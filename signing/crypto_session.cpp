#include "signing/crypto_session.h"

#include "component/error_report.h"
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

int StartCryptoSession() {
  xmlCheckVersion(kBuiltAgainstLibxml);
  xmlLoadExtDtdDefaultValue = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
  xmlSubstituteEntitiesDefault(1);
  xmlIndentTreeOutput = 1;

  SignatureLibrary& library = ActiveSignatureLibrary();
  if (library.Init() < 0) {
    SetError(Error::InitXmlSec);
    return -1;
  }
  if (library.CheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible) != 1) {
    SetError(Error::XmlSecVersion);
    return -1;
  }
  if (library.CryptoAppInit(nullptr) < 0) {
    SetError(Error::InitCrypto);
    return -1;
  }
  if (library.CryptoInit() < 0) {
    SetError(Error::InitXmlSecCrypto);
    return -1;
  }
  return 0;
}

void EndCryptoSession() {
  SignatureLibrary& library = ActiveSignatureLibrary();
  library.CryptoShutdown();
  library.CryptoAppShutdown();
  library.Shutdown();
}

}  // namespace quillbox
