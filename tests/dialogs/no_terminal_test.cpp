// With neither a display nor a terminal the dialogs answer as cancelled; and requests the module
// cannot serve are refused before anyone is asked. Every case runs in a child process that has no
// controlling terminal, so a wrong answer cannot hang on a prompt.
#include "dialogs/child_process.h"
#include "dialogs/picker_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace quillbox::test {
namespace {

class DetachedPicker : public ::testing::Test {
 protected:
  FakeStore store{SampleCertificates()};

  // The outcome of one call with the request changed by `adjust` first.
  std::string PickWith(const std::function<void(SelectRequest&)>& adjust) {
    return RunWithoutTerminal([&] {
      CryptdlgModule module;
      if (!module.Loaded()) return std::string("module not loaded");
      SelectRequest request(store.Handle());
      adjust(request);
      SetLastError(0);
      const BOOL result = module.Select(&request.request);
      return Outcome(result, request, store) + " error=" + std::to_string(GetLastError());
    });
  }
};

TEST_F(DetachedPicker, NoDisplayAndNoTerminalAnswersAsCancelled) {
  EXPECT_EQ(PickWith([](SelectRequest&) {}), "result=0 count=0 chosen=-1 outstanding=0 error=1223");
}

TEST_F(DetachedPicker, DisplayThatCannotBeOpenedFallsBackToNoTerminalAndCancels) {
  EXPECT_EQ(RunWithoutTerminal([this] {
              setenv("DISPLAY", ":7777", 1);  // named, but nothing listens there
              CryptdlgModule module;
              SelectRequest request(store.Handle());
              return Outcome(module.Select(&request.request), request, store);
            }),
            "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(DetachedPicker, SmallerStructureSizeIsRefused) {
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.request.dwSize = 68; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=87");
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.request.dwSize = 0; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=87");
}

TEST_F(DetachedPicker, MissingCertificateArrayIsRefused) {
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.request.arrayCertContext = nullptr; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=87");
}

TEST_F(DetachedPicker, MissingStoreArrayIsRefused) {
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.request.arrayCertStore = nullptr; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=87");
}

TEST_F(DetachedPicker, NullStoreAnswersAsCancelled) {
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.stores[0] = nullptr; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=6");
}

TEST_F(DetachedPicker, HandleThatIsNotAStoreAnswersAsCancelled) {
  static int notAStore;
  EXPECT_EQ(PickWith([](SelectRequest& r) { r.stores[0] = &notAStore; }),
            "result=0 count=0 chosen=-1 outstanding=0 error=6");
}

TEST(DetachedPickerRequest, NullRequestIsRefused) {
  EXPECT_EQ(RunWithoutTerminal([] {
              CryptdlgModule module;
              SetLastError(0);
              const BOOL result = module.Select(nullptr);
              return "result=" + std::to_string(result) + " error=" + std::to_string(GetLastError());
            }),
            "result=0 error=87");
}

TEST(DetachedPassword, NoDisplayAndNoTerminalGivesUp) {
  EXPECT_EQ(RunWithoutTerminal([] {
              CryptdlgModule module;
              char password[16] = "stale";
              const BOOL result = module.Password("Token", FALSE, password, sizeof password);
              return "result=" + std::to_string(result) + " password=" + password;
            }),
            "result=0 password=");
}

TEST(DetachedPassword, UnusableBufferIsRefused) {
  EXPECT_EQ(RunWithoutTerminal([] {
              CryptdlgModule module;
              char one[1] = {'x'};
              return "null=" + std::to_string(module.Password("Token", FALSE, nullptr, 16)) +
                     " tiny=" + std::to_string(module.Password("Token", FALSE, one, 1)) + " kept=" + one[0];
            }),
            "null=0 tiny=0 kept=x");
}

// The site question has no terminal form: with no display nobody is asked, even with a terminal
// the user could type on (a page must not reach a prompt in the browser's terminal).
TEST(DetachedConsent, NoDisplayOrOneThatCannotBeOpenedAsksNobody) {
  const auto ask = [](const char* display) {
    return RunWithoutTerminal([display] {
      if (display != nullptr) setenv("DISPLAY", display, 1);
      CryptdlgModule module;
      if (module.AskSiteConsent() == nullptr) return std::string("no QbAskSiteConsentA");
      return std::to_string(module.AskSiteConsent()("https://shop.example", QB_SITE_USE_SIGN));
    });
  };
  EXPECT_EQ(ask(nullptr), std::to_string(QB_SITE_CONSENT_NOT_ASKED));
  EXPECT_EQ(ask(":7777"), std::to_string(QB_SITE_CONSENT_NOT_ASKED));  // named, but nothing listens there
  const TerminalRun onTerminal = RunOnTerminal(
      [] {
        CryptdlgModule module;
        return std::to_string(module.AskSiteConsent()("https://shop.example", QB_SITE_USE_SIGN));
      },
      {});
  EXPECT_EQ(onTerminal.reported, std::to_string(QB_SITE_CONSENT_NOT_ASKED));
  EXPECT_EQ(onTerminal.transcript, "") << "nothing is asked on the terminal";
}

}  // namespace
}  // namespace quillbox::test
