// The personal store when memory runs out while it opens: the open fails with
// ERROR_NOT_ENOUGH_MEMORY and keeps nothing it made (the environment's check that NSS shuts down
// without a certificate reference left proves no context survived), and the next open works.
#include "support/nss_store.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The allocation to fail, counted from 1 since the count was last reset; 0 fails none.
std::atomic<long> gFailAt{0};
std::atomic<long> gAllocations{0};

}  // namespace

namespace {

// Null for the allocation chosen to fail, else malloc's block.
void* Allocate(std::size_t size) noexcept {
  const long at = gFailAt.load();
  if (at > 0 && gAllocations.fetch_add(1) + 1 == at) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// Replaces the program's (and so every loaded library's) allocation, to fail one on purpose. Every
// form that pairs with a replaced delete is replaced too (the library's stable_sort takes its
// buffer with the nothrow form), so no block is freed by another allocator than made it. None is
// inlined: a memory checker that puts its own allocator in their place (by their names) must see
// every call, or it would see its blocks freed by free().
#define QB_REPLACED __attribute__((noinline))
QB_REPLACED void* operator new(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
QB_REPLACED void* operator new[](std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
QB_REPLACED void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
QB_REPLACED void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
// The compiler sees free() of what it takes for new's memory; here new's memory is malloc's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
QB_REPLACED void operator delete(void* memory) noexcept { std::free(memory); }
QB_REPLACED void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
QB_REPLACED void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace quillbox::test {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new StandardStoreEnvironment);

long CountCertificates(HCERTSTORE store) {
  long count = 0;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) ++count;
  return count;
}

bool FailureInjectionWorks() {
  gAllocations = 0;
  gFailAt = 1;
  bool thrown = false;
  try {
    ::operator delete(::operator new(8));  // a call, not a new-expression: never left out
  } catch (const std::bad_alloc&) {
    thrown = true;
  }
  gFailAt = 0;
  return thrown;
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
    gAllocations = 0;
    gFailAt = at;
    SetLastError(0);
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    const bool failedOne = gAllocations.load() >= at;
    gFailAt = 0;
    if (!failedOne) {
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
