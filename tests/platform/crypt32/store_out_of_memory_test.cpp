// The personal store when memory runs out while it opens: the open fails with
// ERROR_NOT_ENOUGH_MEMORY and keeps nothing it made (the environment's check that NSS shuts down
// without a certificate reference left proves no context survived), and the next open works.
#include "support/failing_allocator.h"
#include "support/nss_store.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

namespace quillbox::test {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new StandardStoreEnvironment);

long CountCertificates(HCERTSTORE store) {
  long count = 0;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) ++count;
  return count;
}

TEST(PersonalStoreOutOfMemory, EveryFailedAllocationFailsTheOpenCleanly) {
  // A memory checker that supplies its own allocator leaves nothing to inject into.
  if (!FailureInjectionWorks()) GTEST_SKIP() << "the allocator is not this program's";
  HCERTSTORE reference = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(reference, nullptr);
  const long expected = CountCertificates(reference);
  ASSERT_GT(expected, 0);
  ASSERT_TRUE(CertCloseStore(reference, 0));

  long failures = 0;
  for (long at = 1;; ++at) {
    ASSERT_LT(at, 1'000'000) << "the open never ran without failing";
    FailAllocation(at);
    SetLastError(0);
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    if (!StopFailing()) {
      // Every allocation of the open has had its turn to fail.
      ASSERT_NE(store, nullptr);
      EXPECT_EQ(CountCertificates(store), expected);
      EXPECT_TRUE(CertCloseStore(store, 0));
      break;
    }
    if (store == nullptr) {
      ++failures;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << "allocation " << at;
    } else {
      EXPECT_EQ(CountCertificates(store), expected) << "allocation " << at;
      EXPECT_TRUE(CertCloseStore(store, 0));
    }
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace quillbox::test
