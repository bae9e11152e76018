// The check that every fixture making Signature objects runs after each test: it fails while an
// object is left, by a reference never released or an object never destroyed, and passes once
// every object is gone.
#include "support/module_lock_audit.h"

#include <gtest/gtest-spi.h>

namespace quillbox::test {
namespace {

using ModuleLockCheck = ModuleLockAudit;

TEST_F(ModuleLockCheck, AReferenceNeverReleasedFailsIt) {
  ExpectModuleUnlocked();
  auto* object = new Signature;
  object->AddRef();  // the creator's reference
  IUnknown* kept = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&kept)), S_OK);
  object->Release();  // the creator lets go; the reference a careless test took stays
  EXPECT_NONFATAL_FAILURE(ExpectModuleUnlocked(), "outlived the test");
  EXPECT_EQ(kept->Release(), 0u);  // and with it gone, the check passes again (in TearDown)
}

TEST_F(ModuleLockCheck, AnObjectNeverDestroyedFailsIt) {
  auto* object = new Signature;
  EXPECT_NONFATAL_FAILURE(ExpectModuleUnlocked(), "outlived the test");
  delete object;
}

}  // namespace
}  // namespace quillbox::test
