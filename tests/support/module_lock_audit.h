// Every Signature object made in-process locks the component module until it goes, and so does
// every reference to the class object. After a test that made any, the module's lock count must be
// 0 again: otherwise DllCanUnloadNow keeps the module loaded for good and an object (with what it
// holds) has leaked. The fixtures of such tests check it in their TearDown.
//
// This header is for programs that link the component's code, whose module state is their own;
// tests that load the built module ask its DllCanUnloadNow (tests/server/com_fixture.h).
#pragma once

#include "component/signature.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

namespace quillbox::test {

inline void ExpectModuleUnlocked() {
  EXPECT_EQ(ServerModule.lockCount, 0) << "a Signature object or class-object reference outlived the test";
}

// The base of fixtures whose tests make Signature objects. A derived TearDown releases what the
// fixture holds and then calls this one.
class ModuleLockAudit : public ::testing::Test {
 protected:
  void TearDown() override { ExpectModuleUnlocked(); }
};

// A Signature on the heap holding the one reference its creator owns, as the class factory hands
// it out. A test that takes a reference and never releases it leaves the object alive, and the
// module locked, after Release() here: a member object would die with the fixture regardless.
class HeldSignature {
 public:
  HeldSignature() : object_(new Signature) { object_->AddRef(); }
  ~HeldSignature() { Release(); }
  HeldSignature(const HeldSignature&) = delete;
  HeldSignature& operator=(const HeldSignature&) = delete;

  Signature& operator*() const { return *object_; }
  void Release() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  Signature* object_;
};

}  // namespace quillbox::test
