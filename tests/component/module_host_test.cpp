// The component asks the module that serves it, through the host the server connects, for the
// lock that keeps it loaded and whether the browser runs in its protected mode.
#include "component/error_report.h"
#include "component/module_host.h"
#include "component/signature.h"
#include "server/server_module.h"
#include "support/bstr_helpers.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

struct CountingHost final : ModuleHost {
  LONG Lock() override { return ++locks; }
  LONG Unlock() override { return --locks; }
  void AddTermFunc(TermFunc, DWORD_PTR) override {}
  CRITICAL_SECTION* TypeInfoLock() override { return &ServerModule.typeInfoLock; }
  bool IsProtectedMode() override {
    ++protectedModeQuestions;
    return protectedMode;
  }
  LONG locks = 0;
  int protectedModeQuestions = 0;
  bool protectedMode = false;
};

class ModuleHostUse : public ::testing::Test {
 protected:
  void SetUp() override { ConnectModuleHost(host); }
  void TearDown() override {
    ConnectModuleHost(server);
    ClearErrorState();
  }
  ModuleHost& server = TheModuleHost();
  CountingHost host;
};

TEST(ModuleHost, TheServersHostIsConnectedBeforeAnyObjectIsMade) {
  const LONG before = ServerModule.lockCount;
  {
    Signature object;
    EXPECT_EQ(ServerModule.lockCount, before + 1);
  }
  EXPECT_EQ(ServerModule.lockCount, before);
}

TEST_F(ModuleHostUse, EveryObjectLocksTheConnectedHostForItsLifetime) {
  const LONG serverLocks = ServerModule.lockCount;
  {
    Signature first;
    Signature second;
    EXPECT_EQ(host.locks, 2);
    EXPECT_EQ(ServerModule.lockCount, serverLocks);
  }
  EXPECT_EQ(host.locks, 0);
}

TEST_F(ModuleHostUse, SignAsksTheHostAfreshAndRefusesInProtectedMode) {
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(u"<a/>").get());
  host.protectedMode = true;
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(object.Sign(&result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(TheErrorState()->ErrorNo, static_cast<LONG>(Error::AccessDenied));
  host.protectedMode = false;
  EXPECT_EQ(object.Sign(&result), S_OK);
  EXPECT_EQ(TheErrorState()->ErrorNo, static_cast<LONG>(Error::CertUniqueIdEmpty));
  EXPECT_EQ(host.protectedModeQuestions, 2);
}

}  // namespace
}  // namespace quillbox
