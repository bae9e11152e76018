// The standard test store for the whole program, and the signer's certificate as a PEM file for
// checking signatures with xmlsec1.
#pragma once

#include "support/nss_store.h"

#include <string>

namespace quillbox::test {

class SignerStoreEnvironment : public StandardStoreEnvironment {
 public:
  void SetUp() override;
  static std::string SignerPem();
};

// xmlsec1 verifies every signature of the signed text (UTF-8, in `encoding` as its declaration
// says; empty: UTF-8) against the signer's public key.
void ExpectSignedBySigner(const std::string& signedText, const std::string& encoding = "");

}  // namespace quillbox::test
