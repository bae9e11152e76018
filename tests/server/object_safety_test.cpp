// The scripting-safety answers of IObjectSafety.
#include "com_fixture.h"

#include <objsafe.h>

namespace quillbox::test {
namespace {

class ObjectSafety : public RegisteredModule {
 protected:
  void SetUp() override {
    RegisteredModule::SetUp();
    object_ = Create();
    ASSERT_NE(object_, nullptr);
    ASSERT_EQ(object_->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety_)), S_OK);
  }
  void TearDown() override {
    if (safety_) safety_->Release();
    if (object_) object_->Release();
    RegisteredModule::TearDown();
  }
  std::pair<DWORD, DWORD> Options(REFIID riid, HRESULT expected) {
    DWORD supported = 0xDEAD, enabled = 0xBEEF;
    EXPECT_EQ(safety_->GetInterfaceSafetyOptions(riid, &supported, &enabled), expected);
    return {supported, enabled};
  }
  IDispatch* object_ = nullptr;
  IObjectSafety* safety_ = nullptr;
};

const IID kPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistPropertyBag = {0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

TEST_F(ObjectSafety, NewObjectSupportsTheCallerBitOnDispatch) {
  EXPECT_EQ(Options(IID_IDispatch, S_OK), (std::pair<DWORD, DWORD>{1, 0}));
}

TEST_F(ObjectSafety, EnablingTheCallerBit) {
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(Options(IID_IDispatch, S_OK), (std::pair<DWORD, DWORD>{1, 1}));
}

TEST_F(ObjectSafety, AskingToSwitchOffFailsOnANewObjectAndSucceedsOnceSet) {
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), E_FAIL);
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), S_OK);  // bits only grow
  EXPECT_EQ(Options(IID_IDispatch, S_OK).second, 1u);
}

TEST_F(ObjectSafety, DataBitIsStoredButNeverReported) {
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2), E_FAIL);
  EXPECT_EQ(Options(IID_IDispatch, S_OK).second, 0u);
}

TEST_F(ObjectSafety, SettingOnAnotherInterfaceStillAddsTheBits) {
  EXPECT_EQ(safety_->SetInterfaceSafetyOptions(kIidSignature, 1, 1), E_FAIL);
  EXPECT_EQ(Options(IID_IDispatch, S_OK).second, 1u);
}

TEST_F(ObjectSafety, EmptyRequestFailsForEveryInterface) {
  for (const IID* iid : {&IID_IDispatch, &IID_IUnknown, &kIidSignature})
    EXPECT_EQ(safety_->SetInterfaceSafetyOptions(*iid, 0, 0), E_FAIL);
}

TEST_F(ObjectSafety, InterfacesTheObjectLacks) {
  for (const IID* iid : {&kPersistStream, &kPersistPropertyBag}) {
    DWORD supported = 7, enabled = 7;
    EXPECT_EQ(safety_->GetInterfaceSafetyOptions(*iid, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(supported, 7u);  // untouched
    EXPECT_EQ(safety_->SetInterfaceSafetyOptions(*iid, 1, 1), E_NOINTERFACE);
  }
}

TEST_F(ObjectSafety, NullOutputsAndOtherInterfaces) {
  DWORD value = 0;
  EXPECT_EQ(safety_->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &value), E_FAIL);
  EXPECT_EQ(safety_->GetInterfaceSafetyOptions(IID_IDispatch, &value, nullptr), E_FAIL);
  EXPECT_EQ(Options(IID_IUnknown, E_FAIL), (std::pair<DWORD, DWORD>{0, 0}));
  EXPECT_EQ(Options(IID_IObjectSafety, E_FAIL), (std::pair<DWORD, DWORD>{0, 0}));
}

}  // namespace
}  // namespace quillbox::test
