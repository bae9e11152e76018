#include "common/proc_address.h"

#include <oleauto.h>

#include <gtest/gtest.h>

namespace quillbox {
namespace {

using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

class ProcAddressTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(oleaut_, nullptr); }
  void TearDown() override {
    if (oleaut_ != nullptr) FreeLibrary(oleaut_);
  }
  HMODULE oleaut_ = LoadLibraryA("oleaut32.dll");
};

TEST_F(ProcAddressTest, AnExportIsTheFunctionItNames) {
  EXPECT_EQ(ProcAddress<UnRegisterFn>(oleaut_, "UnRegisterTypeLib"), &UnRegisterTypeLib);
}

TEST_F(ProcAddressTest, AMissingExportIsNull) {
  EXPECT_EQ(ProcAddress<UnRegisterFn>(oleaut_, "UnRegisterTypeLibEverywhere"), nullptr);
}

}  // namespace
}  // namespace quillbox
