// The check that fixtures loading the component module run after each test: DllCanUnloadNow
// answers S_FALSE while a test has left an object or a reference to the class object, and S_OK once
// it is gone.
#include "hostile/scripted_signature.h"

#include <gtest/gtest-spi.h>

namespace quillbox::test {
namespace {

// gtest's failure expectations take statements that reach no local variable or member.
HMODULE checkedModule = nullptr;

class LockAudit : public ScriptedSignature {
 protected:
  void SetUp() override {
    ScriptedSignature::SetUp();
    checkedModule = module_;
  }
};

TEST_F(LockAudit, ALeakedObjectFailsTheCheck) {
  IDispatch* leaked = Create();
  ASSERT_NE(leaked, nullptr);
  object_->Release();  // the fixture's own object goes; the leaked one stays
  object_ = nullptr;
  EXPECT_NONFATAL_FAILURE(ExpectModuleCanUnload(checkedModule), "outlived the test");
  leaked->Release();
}

TEST_F(LockAudit, ALeakedClassObjectFailsTheCheck) {
  object_->Release();
  object_ = nullptr;
  auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(module_, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(kClsidSignature, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_NONFATAL_FAILURE(ExpectModuleCanUnload(checkedModule), "outlived the test");
  factory->Release();
}

TEST_F(LockAudit, AnObjectStillHeldByTheFixtureFailsTheCheckUntilReleased) {
  EXPECT_NONFATAL_FAILURE(ExpectModuleCanUnload(checkedModule), "outlived the test");
  // The fixture releases it in TearDown, before its own check.
}

}  // namespace
}  // namespace quillbox::test
