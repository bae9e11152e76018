// The real GTK dialogs on a private Xvfb display, driven from the keyboard and mouse with xdotool.
// A watch placed on the main loop that the dialog runs reads what the window shows (on the GTK
// thread, where that is allowed) before the keys are sent, and cancels a dialog nobody closes.
#include "dialogs/picker_support.h"
#include "dialogs/user_locale.h"
#include "dialogs/window_driver.h"

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
    // English unless a test asks for another language.
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
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

// The model's text columns, as the picker fills them.
enum Cell { kHolder, kIssuerName, kValidity, kKey, kMarks, kSubject, kIssuer, kSerial };

bool Shows(const SeenWindow& seen, const std::string& text) {
  for (const std::string& label : seen.labels)
    if (label == text) return true;
  return false;
}

TEST_F(WindowPicker, RowsSayWhoWhenAndWhereAndTheUsableOneStartsSelected) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("picker-dialog.png");
  std::filesystem::remove(screenshot);
  const std::string outcome = Pick(
      store,
      [&screenshot](Driver& driver, const SeenWindow&) {
        driver.Run({"import", "-window", "root", screenshot});
        driver.Run({"xdotool", "key", "Up", "Return"});
      },
      &seen);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=1 outstanding=1");

  ASSERT_EQ(seen.rows.size(), 3u);
  const auto& ana = seen.rows[0];
  EXPECT_EQ(ana[kHolder], "Ana Novak");
  EXPECT_EQ(ana[kIssuerName], "Test CA");
  EXPECT_EQ(ana[kValidity], "expired on " + DateOf(store.At(0)->pCertInfo->NotAfter));
  EXPECT_EQ(ana[kKey], "key in \"NSS Certificate DB\"");
  EXPECT_EQ(ana[kMarks], "Expired");
  EXPECT_EQ(ana[kSubject], "CN=Ana Novak, O=Quillbox Test, C=SI");
  EXPECT_EQ(ana[kIssuer], "CN=Test CA, O=Quillbox Test, C=SI");
  EXPECT_EQ(ana[kSerial], "013CFF0A");
  const auto& bojan = seen.rows[1];
  EXPECT_EQ(bojan[kValidity], "valid until " + DateOf(store.At(1)->pCertInfo->NotAfter));
  EXPECT_EQ(bojan[kMarks], "Not for signing");
  EXPECT_EQ(bojan[kSerial], "0042");
  const auto& cvetka = seen.rows[2];
  EXPECT_EQ(cvetka[kHolder], "Cvetka Zupan");
  EXPECT_EQ(cvetka[kIssuerName], "Other CA") << "an issuer without a common name by its organisation";
  EXPECT_EQ(cvetka[kKey], "key on card \"Cvetka's card\"");
  EXPECT_EQ(cvetka[kMarks], "");
  EXPECT_EQ(cvetka[kSerial], "FF80");

  EXPECT_EQ(seen.cursorRow, 2) << "the first certificate valid now whose key may sign starts selected";
  EXPECT_TRUE(seen.listHasFocus) << "the list takes the keyboard at once";
  EXPECT_TRUE(seen.okSensitive);
  // The details show the selected certificate in full.
  EXPECT_TRUE(Shows(seen, "CN=Cvetka Zupan, O=Druga, C=SI"));
  EXPECT_TRUE(Shows(seen, "O=Other CA, C=SI"));
  EXPECT_TRUE(Shows(seen, "FF80"));
  EXPECT_TRUE(Shows(seen, "Details"));
  EXPECT_FALSE(Shows(seen, "CN=Ana Novak, O=Quillbox Test, C=SI"));
  EXPECT_GT(std::filesystem::exists(screenshot) ? std::filesystem::file_size(screenshot) : 0u, 0u);
  // The window is gone once the call has returned.
  EXPECT_NE(RunProgram({"xdotool", "search", "--onlyvisible", "--name", std::string("^") + kPickerTitle + "$"}), 0);
}

TEST_F(WindowPicker, EnterChoosesTheRowAsShown) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }),
            "result=1 count=1 chosen=2 outstanding=1");
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Home", "Return"}); }),
            "result=1 count=1 chosen=0 outstanding=1")
      << "an expired certificate may still be chosen deliberately";
}

TEST_F(WindowPicker, WithNothingUsableTheFirstRowStartsSelectedAndNotYetValidIsMarked) {
  FakeStore unusable({
      {"CN=Early Bird", "CN=Test CA", {0x01}, FileTimeFromNow(30), FileTimeFromNow(400), {}, "NSS Certificate DB"},
      {"CN=Old Timer", "CN=Test CA", {0x02}, FileTimeFromNow(-400), FileTimeFromNow(-1), {}, "NSS Certificate DB"},
  });
  SeenWindow seen;
  EXPECT_EQ(Pick(unusable, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Escape"}); }, &seen),
            "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_EQ(seen.cursorRow, 0);
  ASSERT_EQ(seen.rows.size(), 2u);
  EXPECT_EQ(seen.rows[0][kValidity], "not valid before " + DateOf(unusable.At(0)->pCertInfo->NotBefore));
  EXPECT_EQ(seen.rows[0][kMarks], "Not yet valid");
  EXPECT_EQ(seen.rows[1][kMarks], "Expired");
  EXPECT_EQ(seen.rows[0][kKey], "key in \"NSS Certificate DB\"");
}

TEST_F(WindowPicker, LongNamesFitA1024By768ScreenWithoutSidewaysScrolling) {
  const std::string longName = "CN=" + std::string(40, 'A') + " " + std::string(60, 'B') + " " + std::string(50, 'C') +
                               ", OU=" + std::string(120, 'D') + ", O=Quillbox Test, C=SI";
  std::vector<FakeCertificateDescription> descriptions;
  descriptions.reserve(12);
  for (int i = 0; i < 12; ++i)
    descriptions.push_back({longName, longName, {static_cast<BYTE>(i + 1)}, FileTimeFromNow(-1), FileTimeFromNow(30),
                     KeyUsageValue(CERT_KEY_AGREEMENT_KEY_USAGE), std::string(90, 'T'), true});
  FakeStore crowded(descriptions);
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("picker-long-names.png");
  EXPECT_EQ(Pick(
                crowded,
                [&screenshot](Driver& driver, const SeenWindow&) {
                  driver.Run({"import", "-window", "root", screenshot});
                  driver.Run({"xdotool", "key", "End", "Return"});
                },
                &seen),
            "result=1 count=1 chosen=11 outstanding=1");
  EXPECT_LE(seen.width, 1024);
  EXPECT_LE(seen.height, 768);
  EXPECT_GT(seen.width, 0);
  EXPECT_FALSE(seen.listWiderThanView);
  EXPECT_TRUE(Shows(seen, longName)) << "the details show the whole name, wrapped";
}

TEST_F(WindowPicker, LabelsFollowTheUsersLanguageButTheTitleStays) {
  const std::string error = ProvideLocale("sl_SI", "UTF-8");
  ASSERT_EQ(error, "");
  setenv("LC_ALL", "sl_SI.UTF-8", 1);
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("picker-dialog-sl.png");
  const std::string outcome = Pick(
      store,
      [&screenshot](Driver& driver, const SeenWindow&) {
        driver.Run({"import", "-window", "root", screenshot});
        driver.Run({"xdotool", "key", "Escape"});
      },
      &seen);
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(outcome, "result=0 count=0 chosen=-1 outstanding=0");
  ASSERT_EQ(seen.rows.size(), 3u);
  EXPECT_EQ(seen.rows[0][kValidity], "potekel " + DateOf(store.At(0)->pCertInfo->NotAfter, "%-d. %-m. %Y"));
  EXPECT_EQ(seen.rows[0][kMarks], "Potekel");
  EXPECT_EQ(seen.rows[1][kMarks], "Ni za podpisovanje");
  EXPECT_EQ(seen.rows[2][kKey], "klju\u010D na kartici \"Cvetka's card\"");
  EXPECT_TRUE(Shows(seen, "Podrobnosti"));
  EXPECT_TRUE(Shows(seen, "Serijska \u0161tevilka"));
  EXPECT_TRUE(Shows(seen, "Prekli\u010Di")) << "the buttons too";
  EXPECT_FALSE(Shows(seen, "Details"));
  // The dialog was found by its title, which no catalogue changes.
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
      &seen, 1);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=1 outstanding=1");
}

TEST_F(WindowPicker, CertificateGivenInAdvanceStartsHighlighted) {
  SeenWindow seen;
  const std::string outcome =
      Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }, &seen, -1,
           store.At(0));
  EXPECT_EQ(seen.cursorRow, 0) << "the caller's choice wins over the suggestion, expired or not";
  EXPECT_EQ(outcome, "result=1 count=1 chosen=0 outstanding=1");
}

TEST_F(WindowPicker, EmptyStoreOffersNothingToConfirm) {
  FakeStore empty({});
  SeenWindow seen;
  EXPECT_EQ(Pick(empty, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return", "Escape"}); },
                 &seen),
            "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_TRUE(seen.rows.empty());
  EXPECT_FALSE(seen.okSensitive);
  EXPECT_TRUE(Shows(seen, "There are no certificates to choose from."));
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

namespace quillbox::test {
namespace {

constexpr const char* kConsentTitle = "Allow this site to sign?";
constexpr const char* kShop = "https://shop.example:8443";

// The native messaging host's question about a web page, in the window it puts up.
class WindowConsent : public WindowPicker {
 protected:
  DWORD Ask(DWORD use, const Actions& actions, SeenWindow* seen = nullptr, const char* title = kConsentTitle) {
    const PFNQBASKSITECONSENTA ask = module.AskSiteConsent();
    if (ask == nullptr) {
      ADD_FAILURE() << "cryptdlg has no QbAskSiteConsentA";
      return QB_SITE_CONSENT_NOT_ASKED;
    }
    DialogWatch watch(title);
    Driver driver(watch, title, actions);
    const DWORD answer = ask(kShop, use);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired()) << "the dialog had to be closed by the test's watchdog";
    if (seen != nullptr) *seen = watch.Window();
    return answer;
  }
  DWORD Keys(const std::vector<std::string>& keys) {
    return Ask(QB_SITE_USE_SIGN, [&keys](Driver& driver, const SeenWindow&) {
      std::vector<std::string> argv = {"xdotool", "key"};
      argv.insert(argv.end(), keys.begin(), keys.end());
      driver.Run(argv);
    });
  }
};

TEST_F(WindowConsent, NamesTheSiteAndWhatItAsksWithDenyFocusedAndTheDefault) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("consent-dialog.png");
  std::filesystem::remove(screenshot);
  EXPECT_EQ(Ask(
                QB_SITE_USE_SIGN,
                [&screenshot](Driver& driver, const SeenWindow&) {
                  driver.Run({"import", "-window", "root", screenshot});
                  driver.Run({"xdotool", "key", "Escape"});
                },
                &seen),
            QB_SITE_CONSENT_DENIED);
  ASSERT_FALSE(seen.labels.empty());
  EXPECT_EQ(seen.labels[0], kShop) << "the site comes first, on a line of its own";
  EXPECT_TRUE(Shows(seen, std::string(kShop) + " wants to sign a document with your certificate."));
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"_Deny", "Allow _once", "Al_ways allow"}));
  EXPECT_EQ(seen.focusedButton, "_Deny");
  EXPECT_EQ(seen.defaultButton, "_Deny");
  EXPECT_TRUE(seen.modal);
  EXPECT_TRUE(std::filesystem::exists(screenshot));
}

TEST_F(WindowConsent, SaysWhatEachUseIsFor) {
  const auto escape = [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Escape"}); };
  SeenWindow transform;
  SeenWindow choose;
  EXPECT_EQ(Ask(QB_SITE_USE_TRANSFORM, escape, &transform), QB_SITE_CONSENT_DENIED);
  EXPECT_EQ(Ask(QB_SITE_USE_CHOOSE_CERTIFICATE, escape, &choose), QB_SITE_CONSENT_DENIED);
  EXPECT_TRUE(Shows(transform, std::string(kShop) + " wants to use the signing component to transform a document."));
  EXPECT_TRUE(Shows(choose, std::string(kShop) + " wants to see your certificates and let you choose one to sign with."));
}

TEST_F(WindowConsent, ReturnEscapeDenyAndClosingTheWindowAllRefuse) {
  EXPECT_EQ(Keys({"Return"}), QB_SITE_CONSENT_DENIED) << "Return answers the default, Deny";
  EXPECT_EQ(Keys({"space"}), QB_SITE_CONSENT_DENIED) << "the focused button is Deny";
  EXPECT_EQ(Keys({"Escape"}), QB_SITE_CONSENT_DENIED);
  EXPECT_EQ(Keys({"alt+d"}), QB_SITE_CONSENT_DENIED);
  EXPECT_EQ(Ask(QB_SITE_USE_SIGN,
                [](Driver&, const SeenWindow&) { CloseWindowAsTheWindowManagerWould(kConsentTitle); }),
            QB_SITE_CONSENT_DENIED);
}

TEST_F(WindowConsent, EachAllowingButtonGivesItsAnswer) {
  EXPECT_EQ(Keys({"alt+o"}), QB_SITE_CONSENT_ONCE);
  EXPECT_EQ(Keys({"alt+w"}), QB_SITE_CONSENT_ALWAYS);
  // From the keyboard alone: Tab goes from Deny to the next button.
  EXPECT_EQ(Keys({"Tab", "space"}), QB_SITE_CONSENT_ONCE);
  EXPECT_EQ(Keys({"Tab", "Tab", "space"}), QB_SITE_CONSENT_ALWAYS);
}

TEST_F(WindowConsent, SpeaksTheUsersLanguage) {
  ASSERT_EQ(ProvideLocale("sl_SI", "UTF-8"), "");
  setenv("LC_ALL", "sl_SI.UTF-8", 1);
  SeenWindow seen;
  const DWORD answer = Ask(
      QB_SITE_USE_SIGN, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "alt+e"}); }, &seen,
      "Ali dovolite tej strani podpisovanje?");
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(answer, QB_SITE_CONSENT_ONCE);
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"_Zavrni", "Dovoli _enkrat", "Dovoli _vedno"}));
  EXPECT_TRUE(Shows(seen, std::string(kShop) + " \u017Eeli podpisati dokument z va\u0161im certifikatom."));
}

}  // namespace
}  // namespace quillbox::test
