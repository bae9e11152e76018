// The independent check of a signed document: xmlsec1 (OpenSSL back end) verifies it with the
// public key of the certificate it should have been signed with, from a file in the encoding that
// the document declares. Only that key is offered, so a signature made with any other key fails.
#pragma once

#include <string>

namespace quillbox::test {

struct Verification {
  bool ok = false;
  std::string output;
};

// `signedDocument` is the signed XmlDoc as UTF-8; `encoding` the name its declaration gives
// (empty: UTF-8). `signatureIndex` picks the Signature element (1 = the first in document order).
Verification VerifyWithXmlsec1(const std::string& signedDocument, const std::string& signerPemFile,
                               const std::string& encoding = "", int signatureIndex = 1);

}  // namespace quillbox::test
