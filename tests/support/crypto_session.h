// Starts and ends the signature library and its crypto back end around a test, the way a Sign
// call's session does, through the active library.
#pragma once

#include "component/error_report.h"
#include "signing/signature_library.h"

#include <gtest/gtest.h>

namespace quillbox::test {

class CryptoSession {
 public:
  CryptoSession() {
    SignatureLibrary& library = ActiveSignatureLibrary();
    EXPECT_GE(library.Init(), 0);
    EXPECT_EQ(library.CheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible), 1);
    EXPECT_GE(library.CryptoAppInit(nullptr), 0);
    EXPECT_GE(library.CryptoInit(), 0);
    library.ErrorsSetCallback(CryptoErrorCallback);
  }
  ~CryptoSession() {
    SignatureLibrary& library = ActiveSignatureLibrary();
    library.CryptoShutdown();
    library.CryptoAppShutdown();
    library.Shutdown();
  }
  CryptoSession(const CryptoSession&) = delete;
  CryptoSession& operator=(const CryptoSession&) = delete;
};

}  // namespace quillbox::test
