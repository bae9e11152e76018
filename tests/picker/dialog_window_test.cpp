// The real GTK dialogs on a private Xvfb display, driven from the keyboard and mouse with xdotool.
// A watch placed on the main loop that the dialog runs reads what the window shows (on the GTK
// thread, where that is allowed) before the keys are sent, and cancels a dialog nobody closes.
#include "picker/picker_support.h"
#include "picker/window_driver.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <filesystem>

extern "C" const char* __lsan_default_suppressions() { return quillbox::test::ToolkitLeakSuppressions(); }

namespace quillbox::test {
namespace {

const auto* const kDisplayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

class WindowPicker : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProgramInstalled("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb); window tests skipped";
    ASSERT_TRUE(TestDisplay() != nullptr) << TestDisplayError();
    ASSERT_TRUE(module.Loaded());
  }

  // One dialog over `source`: `actions` drive it once it is up; returns the call's outcome.
  std::string Pick(FakeStore& source, const Actions& actions,
                   SeenWindow* seen = nullptr, int pointAtRow = -1, PCCERT_CONTEXT preselect = nullptr) {
    SelectRequest request(source.Handle());
    if (preselect != nullptr) {
      request.chosen[0] = preselect;
      request.request.cCertContext = 1;
    }
    DialogWatch watch(kPickerTitle, pointAtRow);
    Driver driver(watch, kPickerTitle, actions);
    const BOOL result = module.Select(&request.request);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired()) << "the dialog had to be closed by the test's watchdog";
    if (seen != nullptr) *seen = watch.Window();
    std::string outcome = Outcome(result, request, source);
    if (result && request.chosen[0] != preselect) CertFreeCertificateContext(request.chosen[0]);
    return outcome;
  }

  CryptdlgModule module;
  FakeStore store{SampleCertificates()};
};

TEST_F(WindowPicker, ShowsTheStoresCertificatesAndEnterAfterDownChoosesTheSecond) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("picker-dialog.png");
  std::filesystem::remove(screenshot);
  const std::string outcome = Pick(
      store,
      [&screenshot](Driver& driver, const SeenWindow&) {
        driver.Run({"import", "-window", "root", screenshot});
        driver.Run({"xdotool", "key", "Down", "Return"});
      },
      &seen);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=1 outstanding=1");

  const std::vector<std::vector<std::string>> expected = {
      {"CN=Ana Novak, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", "013CFF0A",
       "2024-01-15 08:30:00 UTC", "2026-01-15 08:30:00 UTC"},
      {"CN=Bojan Kralj, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", "0042", "2023-06-01 00:00:00 UTC",
       "2025-06-01 00:00:00 UTC"},
      {"CN=Cvetka Zupan, O=Druga, C=SI", "CN=Other CA, C=SI", "FF80", "2022-12-31 23:59:59 UTC",
       "2032-12-31 23:59:59 UTC"},
  };
  EXPECT_EQ(seen.rows, expected);
  EXPECT_EQ(seen.cursorRow, 0) << "the first row starts selected";
  EXPECT_TRUE(seen.listHasFocus) << "the list takes the keyboard at once";
  EXPECT_TRUE(seen.okSensitive);
  EXPECT_GT(std::filesystem::exists(screenshot) ? std::filesystem::file_size(screenshot) : 0u, 0u);
  // The window is gone once the call has returned.
  EXPECT_NE(RunProgram({"xdotool", "search", "--onlyvisible", "--name", std::string("^") + kPickerTitle + "$"}), 0);
}

TEST_F(WindowPicker, EnterChoosesTheFirstRowAsShown) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }),
            "result=1 count=1 chosen=0 outstanding=1");
}

TEST_F(WindowPicker, EscapeCancelsAndReleasesEverything) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Down", "Escape"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(WindowPicker, TabToCancelAndSpaceCancels) {
  // Keyboard alone: from the list, Tab reaches the buttons, Cancel first.
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Tab", "space"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(WindowPicker, DoubleClickChoosesTheRowClicked) {
  SeenWindow seen;
  const std::string outcome = Pick(
      store,
      [](Driver& driver, const SeenWindow& shown) {
        driver.Run({"xdotool", "mousemove", "--sync", std::to_string(shown.rowX), std::to_string(shown.rowY)});
        driver.Run({"xdotool", "click", "--repeat", "2", "--delay", "60", "1"});
      },
      &seen, 2);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=2 outstanding=1");
}

TEST_F(WindowPicker, CertificateGivenInAdvanceStartsHighlighted) {
  SeenWindow seen;
  const std::string outcome =
      Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }, &seen, -1,
           store.At(2));
  EXPECT_EQ(seen.cursorRow, 2);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=2 outstanding=1");
}

TEST_F(WindowPicker, EmptyStoreOffersNothingToConfirm) {
  FakeStore empty({});
  SeenWindow seen;
  EXPECT_EQ(Pick(empty, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return", "Escape"}); },
                 &seen),
            "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_TRUE(seen.rows.empty());
  EXPECT_FALSE(seen.okSensitive);
}

TEST_F(WindowPicker, DialogCanBeShownAgainInTheSameProcess) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Escape"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
  CryptdlgModule again;  // a further load, as the component loads the module for every dialog
  ASSERT_TRUE(again.Loaded());
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "End", "Return"}); }),
            "result=1 count=1 chosen=2 outstanding=1");
}

class WindowPassword : public WindowPicker {
 protected:
  std::string Ask(BOOL retry, const Actions& actions, SeenWindow& seen,
                  const std::string& screenshot = {}) {
    DialogWatch watch("Password");
    Driver driver(watch, "Password", [&](Driver& d, const SeenWindow& shown) {
      if (!screenshot.empty()) d.Run({"import", "-window", "root", screenshot});
      actions(d, shown);
    });
    char password[32] = "stale";
    const BOOL result = module.Password("NSS Certificate DB", retry, password, sizeof password);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired());
    seen = watch.Window();
    return "result=" + std::to_string(result) + " password=" + password;
  }
};

TEST_F(WindowPassword, TypedPasswordIsReturnedAndNotShown) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("password-dialog.png");
  EXPECT_EQ(Ask(FALSE,
                [](Driver& driver, const SeenWindow&) {
                  driver.Run({"xdotool", "type", "--delay", "30", "s3cret"});
                  driver.Run({"xdotool", "key", "Return"});
                },
                seen, screenshot),
            "result=1 password=s3cret");
  EXPECT_TRUE(seen.entryHasFocus);
  EXPECT_TRUE(seen.entryHidesText);
  EXPECT_TRUE(std::filesystem::exists(screenshot));
}

TEST_F(WindowPassword, EscapeGivesUp) {
  SeenWindow seen;
  EXPECT_EQ(Ask(TRUE,
                [](Driver& driver, const SeenWindow&) {
                  driver.Run({"xdotool", "type", "--delay", "30", "abc"});
                  driver.Run({"xdotool", "key", "Escape"});
                },
                seen),
            "result=0 password=");
}

TEST_F(WindowPassword, CardIsAskedForItsPinInAWindowOfThatName) {
  DialogWatch watch("PIN");
  const std::string screenshot = ArtifactPath("pin-dialog.png");
  Driver driver(watch, "PIN", [&](Driver& d, const SeenWindow&) {
    d.Run({"import", "-window", "root", screenshot});
    d.Run({"xdotool", "type", "--delay", "30", "4711"});
    d.Run({"xdotool", "key", "Return"});
  });
  QB_CRYPT_PASSWORD_REQUEST request = CryptdlgModule::PasswordRequest("Quillbox Card", true);
  request.retry = TRUE;
  request.triesLeft = 2;
  request.countLow = TRUE;
  char pin[16] = "stale";
  const BOOL result = module.Password(request, pin, sizeof pin);
  driver.Join();
  EXPECT_EQ(driver.Problems(), "");
  EXPECT_FALSE(watch.WatchdogFired());
  EXPECT_EQ("result=" + std::to_string(result) + " pin=" + pin, "result=1 pin=4711");
  EXPECT_TRUE(watch.Window().entryHidesText);
  EXPECT_TRUE(std::filesystem::exists(screenshot));
}

}  // namespace
}  // namespace quillbox::test
