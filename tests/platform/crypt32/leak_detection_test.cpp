// The end-of-suite check is only worth something if a leaked reference makes it fail: NSS must
// report busy when a certificate is still held at shutdown.
#include "support/nss_store.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

namespace quillbox::test {
namespace {

TEST(NssShutdown, NothingHeldShutsDownCleanly) {
  NssDatabase store = StandardStore();
  setenv("QUILLBOX_NSS_DB", store.location().c_str(), 1);
  HCERTSTORE personal = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(personal, nullptr);
  PCCERT_CONTEXT held = CertEnumCertificatesInStore(personal, nullptr);
  ASSERT_NE(held, nullptr);
  CertCloseStore(personal, 0);
  CertFreeCertificateContext(held);
  EXPECT_TRUE(QbCryptCloseSession());
}

// Last in the program: after a shutdown that found objects in use, NSS is not reliable again in
// the same process.
TEST(NssShutdown, HeldCertificateMakesShutdownReportBusy) {
  NssDatabase store = StandardStore();
  setenv("QUILLBOX_NSS_DB", store.location().c_str(), 1);
  HCERTSTORE personal = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(personal, nullptr);
  PCCERT_CONTEXT held = CertEnumCertificatesInStore(personal, nullptr);
  ASSERT_NE(held, nullptr);
  CertCloseStore(personal, 0);

  SetLastError(0);
  EXPECT_FALSE(QbCryptCloseSession());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  CertFreeCertificateContext(held);
}

}  // namespace
}  // namespace quillbox::test
