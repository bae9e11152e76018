// Signs a small document with a key, the way the signature library is driven to sign: an
// enveloped RSA-SHA1 signature with inclusive C14N and the key's certificate in X509Data.
#pragma once

#include <xmlsec/xmlsec.h>

#include <xmlsec/keys.h>

#include <string>

namespace quillbox::test {

struct SignedDocument {
  int status = -1;   // xmlSecDSigCtxSign's result
  std::string xml;   // the signed document, when status is 0
};

// Does not take `key` over.
SignedDocument SignSmallDocument(xmlSecKeyPtr key, const std::string& xml = "<doc><item>Quillbox</item></doc>");

}  // namespace quillbox::test
