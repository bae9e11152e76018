#include "server/protected_mode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quillbox {
namespace {

class ProtectedMode : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("QUILLBOX_DLL_PATH");
    unsetenv("QUILLBOX_TEST_PROTECTED_MODE");
  }
  static void UseBrowserLibrary(const char* directory, const char* answer = "") {
    setenv("QUILLBOX_DLL_PATH", (std::string(QUILLBOX_FAKE_DIR) + "/" + directory).c_str(), 1);
    setenv("QUILLBOX_TEST_PROTECTED_MODE", answer, 1);
  }
};

TEST_F(ProtectedMode, NoBrowserLibraryMeansNotProtected) {
  unsetenv("QUILLBOX_DLL_PATH");
  EXPECT_FALSE(IsProtectedMode());
  UseBrowserLibrary("no-such-directory", "protected");
  EXPECT_FALSE(IsProtectedMode());
}

TEST_F(ProtectedMode, LibraryWithoutTheQueryMeansNotProtected) {
  UseBrowserLibrary("ieframe-no-export", "protected");
  EXPECT_FALSE(IsProtectedMode());
}

TEST_F(ProtectedMode, TheQueryAnswers) {
  UseBrowserLibrary("ieframe", "protected");
  EXPECT_TRUE(IsProtectedMode());
  UseBrowserLibrary("ieframe", "not-protected");
  EXPECT_FALSE(IsProtectedMode());
  // Any non-zero boolean under any success status.
  UseBrowserLibrary("ieframe", "protected-s-false");
  EXPECT_TRUE(IsProtectedMode());
}

TEST_F(ProtectedMode, AccessDeniedMeansProtectedAndOtherFailuresDoNot) {
  UseBrowserLibrary("ieframe", "denied");
  EXPECT_TRUE(IsProtectedMode());
  UseBrowserLibrary("ieframe", "failed");
  EXPECT_FALSE(IsProtectedMode());
}

TEST_F(ProtectedMode, AskedAfreshEachTime) {
  UseBrowserLibrary("ieframe", "protected");
  EXPECT_TRUE(IsProtectedMode());
  setenv("QUILLBOX_TEST_PROTECTED_MODE", "not-protected", 1);
  EXPECT_FALSE(IsProtectedMode());
  unsetenv("QUILLBOX_DLL_PATH");
  EXPECT_FALSE(IsProtectedMode());
}

}  // namespace
}  // namespace quillbox
