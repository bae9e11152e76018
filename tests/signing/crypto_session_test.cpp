#include "signing/crypto_session.h"

#include "common/bstr.h"
#include "component/error_report.h"
#include "signing/faulty_library.h"
#include "support/bstr_helpers.h"

#include <libxml/globals.h>
#include <libxml/parser.h>

#include <gtest/gtest.h>

namespace quillbox {
namespace {

class CryptoSession : public ::testing::Test {
 protected:
  void SetUp() override { ClearErrorState(); }
  void TearDown() override { ClearErrorState(); }

  // A whole session on the real libraries, to show that what came before left them usable.
  static void ExpectFullSession() {
    const Error error = StartCryptoSession();
    ASSERT_EQ(error, Error::None) << "error " << static_cast<LONG>(error);
    EndCryptoSession();
  }
};

TEST_F(CryptoSession, StartsWithTheXmlLibrarySettingsAndEnds) {
  xmlLoadExtDtdDefaultValue = 0;
  xmlIndentTreeOutput = 0;
  ASSERT_EQ(StartCryptoSession(), Error::None);
  EXPECT_EQ(xmlLoadExtDtdDefaultValue, XML_DETECT_IDS | XML_COMPLETE_ATTRS);
  EXPECT_EQ(xmlIndentTreeOutput, 1);
  // xmlSubstituteEntitiesDefault returns the previous value: the session left it at 1.
  EXPECT_EQ(xmlSubstituteEntitiesDefault(1), 1);
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);
  EndCryptoSession();
  ExpectFullSession();
}

struct StartFailure {
  const char* step;
  Error error;
  const char* firstSkipped;  // the next start step, which must not run
};
// Named by its step: GoogleTest would otherwise print the raw bytes, padding included.
void PrintTo(const StartFailure& failure, std::ostream* out) { *out << failure.step; }

class CryptoSessionStartFailure : public CryptoSession, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(CryptoSessionStartFailure, RecordsItsErrorStopsAndStillEndsCleanly) {
  const StartFailure failure = GetParam();
  test::FaultyLibrary library;
  library.FailAt(failure.step);
  {
    ScopedSignatureLibrary scoped(library);
    EXPECT_EQ(StartCryptoSession(), failure.error);
    if (failure.firstSkipped != nullptr) {
      EXPECT_EQ(library.Calls(failure.firstSkipped), 0);
    }
    EndCryptoSession();
  }
  EXPECT_EQ(library.Calls("CryptoShutdown"), 1);
  EXPECT_EQ(library.Calls("CryptoAppShutdown"), 1);
  EXPECT_EQ(library.Calls("Shutdown"), 1);
  ClearErrorState();
  ExpectFullSession();
  EXPECT_EQ(TheErrorState()->ErrorDesc, nullptr);
}

INSTANTIATE_TEST_SUITE_P(EachStep, CryptoSessionStartFailure,
                         ::testing::Values(StartFailure{"Init", Error::InitXmlSec, "CheckVersionExt"},
                                           StartFailure{"CheckVersionExt", Error::XmlSecVersion, "CryptoAppInit"},
                                           StartFailure{"CryptoAppInit", Error::InitCrypto, "CryptoInit"},
                                           StartFailure{"CryptoInit", Error::InitXmlSecCrypto, nullptr}),
                         [](const auto& info) { return std::string(info.param.step); });

TEST_F(CryptoSession, EndingASessionThatNeverStartedIsHarmless) {
  // With the component's callback in place, as after any earlier Sign: a shutdown of libraries
  // that are not running must not put a report into the description.
  ExpectFullSession();
  {
    test::FaultyLibrary library;
    ScopedSignatureLibrary scoped(library);
    ASSERT_EQ(StartCryptoSession(), Error::None);
    library.ErrorsSetCallback(CryptoErrorCallback);
    EndCryptoSession();
  }
  ClearErrorState();
  EndCryptoSession();
  EndCryptoSession();
  EXPECT_EQ(TheErrorState()->ErrorDesc, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);
  ExpectFullSession();
  EXPECT_EQ(TheErrorState()->ErrorDesc, nullptr);
}

TEST_F(CryptoSession, RepeatedSessionsInOneProcess) {
  for (int i = 0; i < 5; ++i) ExpectFullSession();
}

}  // namespace
}  // namespace quillbox
