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

}  // namespace quillbox::test
