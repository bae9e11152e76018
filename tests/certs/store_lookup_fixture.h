// A component object and the personal store opened for it, as the lookup and key tests need them;
// the error report is clear before and after, and the module's lock count is checked at the end.
#pragma once

#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/module_lock_audit.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

namespace quillbox::test {

class StoreLookup : public ModuleLockAudit {
 protected:
  void SetUp() override {
    ClearErrorState();
    store.reset(CertOpenSystemStoreA(0, "MY"));
    ASSERT_TRUE(store);
  }
  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }

  UniqueCertStore store;
  HeldSignature held;
  Signature& object = *held;
};

}  // namespace quillbox::test
