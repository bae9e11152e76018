// The dialogs without a display: a numbered prompt on the controlling terminal (driven through a
// pseudo-terminal), and a cancel when there is no terminal either.
#include "dialogs/child_process.h"
#include "dialogs/picker_support.h"
#include "dialogs/user_locale.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <libintl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace quillbox::test {
namespace {

constexpr const char* kChoicePrompt = "empty to cancel: ";

class TerminalPicker : public ::testing::Test {
 protected:
  FakeStore store{SampleCertificates()};

  // Calls the dialog over `store` in the child, under `locale`, and reports the outcome.
  ChildBody Pick(const char* title = kPickerTitle, const char* locale = "C.UTF-8") {
    return [this, title, locale] {
      setenv("LC_ALL", locale, 1);
      unsetenv("LANGUAGE");
      CryptdlgModule module;
      if (!module.Loaded()) return std::string("module not loaded");
      SelectRequest request(store.Handle(), title);
      const BOOL result = module.Select(&request.request);
      return Outcome(result, request, store);
    };
  }
};

TEST_F(TerminalPicker, ListsEveryCertificateWithItsTextsAndTakesTheNumberTyped) {
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, "2\n"}});
  // The chosen certificate is handed over as one further reference; everything else is released.
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=1 outstanding=1");
  const std::string& shown = run.transcript;
  const auto lists = [&shown](const std::string& line) {
    EXPECT_NE(shown.find(line + "\r\n"), std::string::npos) << "no line \"" << line << "\" in\n" << shown;
  };
  lists("Izberite certifikat");
  lists("  1. Ana Novak  [Expired]");
  lists("     issued by Test CA; expired on " + DateOf(store.At(0)->pCertInfo->NotAfter) +
        "; key in \"NSS Certificate DB\"");
  lists("  2. Bojan Kralj  [Not for signing]");
  lists("     issued by Test CA; valid until " + DateOf(store.At(1)->pCertInfo->NotAfter) +
        "; key in \"NSS Certificate DB\"");
  // The one usable for signing now is marked as the suggestion.
  lists("* 3. Cvetka Zupan");
  lists("     issued by Other CA; valid until " + DateOf(store.At(2)->pCertInfo->NotAfter) +
        "; key on card \"Cvetka's card\"");
  lists("* the suggested certificate");
  EXPECT_NE(shown.find("Certificate number (1-3)"), std::string::npos) << shown;
  // The full names and serial are details, shown on request only.
  EXPECT_EQ(shown.find("CN=Ana Novak"), std::string::npos) << shown;
}

TEST_F(TerminalPicker, QuestionMarkShowsTheDetailsAndIsNotAWrongAnswer) {
  const TerminalRun run = RunOnTerminal(
      Pick(), {{kChoicePrompt, "?1\n"}, {kChoicePrompt, " ? 3\n"}, {kChoicePrompt, "?\n"}, {kChoicePrompt, "?7\n"},
               {kChoicePrompt, "?1\n"}, {kChoicePrompt, "1\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=0 outstanding=1") << run.transcript;
  const std::string& shown = run.transcript;
  const auto lists = [&shown](const std::string& line) {
    EXPECT_NE(shown.find(line + "\r\n"), std::string::npos) << "no line \"" << line << "\" in\n" << shown;
  };
  lists("3. Cvetka Zupan");
  lists("     Issued to:     CN=Cvetka Zupan, O=Druga, C=SI");
  lists("     Issued by:     O=Other CA, C=SI");
  // Serial numbers most significant byte first, leading zero byte kept, bytes read unsigned.
  lists("     Serial number: FF80");
  lists("     Serial number: 013CFF0A");
  lists("     Valid to:      " + DateOf(store.At(2)->pCertInfo->NotAfter, "%Y-%m-%d %H:%M:%S UTC"));
  lists("     Key usage:     signing allowed");
  lists("     Private key:   key on card \"Cvetka's card\"");
  // "?" and "?7" were wrong answers, but three questions did not use up the attempts.
  EXPECT_NE(shown.find("That is not a number from 1 to 3."), std::string::npos) << shown;
  EXPECT_EQ(shown.find("No certificate chosen."), std::string::npos) << shown;
}

TEST_F(TerminalPicker, KeyUsageThatExcludesSigningIsSaidInTheDetails) {
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, "?2\n"}, {kChoicePrompt, "\n"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_NE(run.transcript.find("Key usage:     not for signing (the key usage excludes signatures)\r\n"),
            std::string::npos)
      << run.transcript;
}

TEST_F(TerminalPicker, TextsFollowTheUsersLanguage) {
  ASSERT_EQ(ProvideLocale("sl_SI", "UTF-8"), "");
  const TerminalRun run = RunOnTerminal(
      [pick = Pick(kPickerTitle, "sl_SI.UTF-8")] {
        const std::string outcome = pick();
        // A guest in the host's process: its locale and text domain are as they were.
        return outcome + " locale=" + setlocale(LC_ALL, nullptr) + " domain=" + textdomain(nullptr);
      },
      {{"prazno za preklic: ", "?2\n"}, {"prazno za preklic: ", "9\n"}, {"prazno za preklic: ", "3\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=2 outstanding=1 locale=C domain=messages");
  const std::string& shown = run.transcript;
  const auto lists = [&shown](const std::string& line) {
    EXPECT_NE(shown.find(line + "\r\n"), std::string::npos) << "no line \"" << line << "\" in\n" << shown;
  };
  lists("Izberite certifikat");
  lists("  1. Ana Novak  [Potekel]");
  lists("     izdajatelj: Test CA; potekel " + DateOf(store.At(0)->pCertInfo->NotAfter, "%-d. %-m. %Y") +
        "; klju\u010D v \"NSS Certificate DB\"");
  lists("  2. Bojan Kralj  [Ni za podpisovanje]");
  lists("     Uporaba klju\u010Da:    ni za podpisovanje (uporaba klju\u010Da izklju\u010Duje podpise)");
  lists("To ni \u0161tevilka od 1 do 3.");
  EXPECT_NE(shown.find("\u0160tevilka certifikata (1-3)"), std::string::npos) << shown;
}

TEST_F(TerminalPicker, RequestWithoutATitleGetsThePickersOwn) {
  const TerminalRun run = RunOnTerminal(Pick(nullptr), {{kChoicePrompt, "\n"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_NE(run.transcript.find("\r\nSelect a certificate\r\n"), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, EmptyInputCancels) {
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, "\n"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(TerminalPicker, BlankInputCancels) {
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, "   \n"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(TerminalPicker, EndOfInputCancels) {
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, "\x04"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(TerminalPicker, InvalidAnswersAskAgain) {
  const TerminalRun run = RunOnTerminal(
      Pick(), {{kChoicePrompt, "abc\n"}, {kChoicePrompt, "0\n"}, {kChoicePrompt, " 3 \n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=2 outstanding=1");
  EXPECT_NE(run.transcript.find("That is not a number from 1 to 3."), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, TooManyInvalidAnswersCancel) {
  const TerminalRun run =
      RunOnTerminal(Pick(), {{kChoicePrompt, "4\n"}, {kChoicePrompt, "-1\n"}, {kChoicePrompt, "2x\n"}});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_NE(run.transcript.find("No certificate chosen."), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, OverlongAnswerIsInvalidNotTruncated) {
  // A long run of digits whose first characters would be a valid choice.
  const std::string longAnswer = "1" + std::string(200, '0') + "\n";
  const TerminalRun run = RunOnTerminal(Pick(), {{kChoicePrompt, longAnswer}, {kChoicePrompt, "1\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=0 outstanding=1");
  EXPECT_NE(run.transcript.find("That is not a number"), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, EmptyStoreSaysSoAndCancelsWithoutAsking) {
  FakeStore empty({});
  const TerminalRun run = RunOnTerminal(
      [&empty] {
        CryptdlgModule module;
        SelectRequest request(empty.Handle());
        return Outcome(module.Select(&request.request), request, empty);
      },
      {});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_NE(run.transcript.find("no certificates"), std::string::npos) << run.transcript;
  EXPECT_EQ(run.transcript.find(kChoicePrompt), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, StoreThatCannotBeEnumeratedCancelsWithoutAskingAndReleasesWhatItTook) {
  store.FailEnumerationAt(2);  // the first certificate comes, then the store fails
  const TerminalRun run = RunOnTerminal(Pick(), {});
  EXPECT_EQ(run.reported, "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_EQ(run.transcript.find(kChoicePrompt), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, FilterDecidesWhichCertificatesAreOffered) {
  const TerminalRun run = RunOnTerminal(
      [this] {
        CryptdlgModule module;
        SelectRequest request(store.Handle());
        request.request.lCustData = 2;  // keep only the certificate at this position
        request.request.pfnFilter = [](PCCERT_CONTEXT certificate, LPARAM keep, DWORD, DWORD) -> BOOL {
          return std::strstr(reinterpret_cast<const char*>(certificate->pCertInfo->Subject.pbData),
                             keep == 2 ? "Cvetka" : "nobody") != nullptr;
        };
        return Outcome(module.Select(&request.request), request, store);
      },
      {{kChoicePrompt, "1\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=2 outstanding=1");
  EXPECT_EQ(run.transcript.find("Ana Novak"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Certificate number (1-1)"), std::string::npos) << run.transcript;
}

TEST_F(TerminalPicker, ChosenReferenceOutlivesTheModule) {
  const TerminalRun run = RunOnTerminal(
      [this] {
        SelectRequest request(store.Handle());
        BOOL result = FALSE;
        {
          CryptdlgModule module;  // loaded and freed around the call, as the component does
          result = module.Select(&request.request);
        }
        const std::string outcome = Outcome(result, request, store);
        // Still the certificate it was, and released exactly once by its new owner.
        const std::string subject(reinterpret_cast<const char*>(request.chosen[0]->pCertInfo->Subject.pbData),
                                  request.chosen[0]->pCertInfo->Subject.cbData);
        CertFreeCertificateContext(request.chosen[0]);
        return outcome + " subject=" + subject + " after=" + std::to_string(store.OutstandingReferences());
      },
      {{kChoicePrompt, "3\n"}});
  EXPECT_EQ(run.reported,
            "result=1 count=1 chosen=2 outstanding=1 subject=CN=Cvetka Zupan, O=Druga, C=SI after=0");
}

TEST(TerminalPassword, ReadsThePasswordWithoutEchoingIt) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        char password[32];
        std::memset(password, 'x', sizeof password);
        const BOOL result = module.Password("NSS Certificate DB", FALSE, password, sizeof password);
        return "result=" + std::to_string(result) + " password=" + std::string(password);
      },
      {{"Password for NSS Certificate DB: ", "s3cret pass\n"}});
  EXPECT_EQ(run.reported, "result=1 password=s3cret pass");
  EXPECT_EQ(run.transcript.find("s3cret"), std::string::npos) << run.transcript;
}

TEST(TerminalPassword, RetrySaysThePreviousAnswerWasWrong) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        char password[32];
        const BOOL result = module.Password("Token", TRUE, password, sizeof password);
        return "result=" + std::to_string(result) + " password=" + std::string(password);
      },
      {{"Password for Token: ", "again\n"}});
  EXPECT_EQ(run.reported, "result=1 password=again");
  EXPECT_NE(run.transcript.find("not accepted"), std::string::npos) << run.transcript;
}

TEST(TerminalPassword, CardIsAskedForItsPinWithWhatItsCountersSay) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        QB_CRYPT_PASSWORD_REQUEST request = CryptdlgModule::PasswordRequest("Quillbox Card", true);
        request.retry = TRUE;
        request.triesLeft = 1;
        request.finalTry = TRUE;
        char pin[16];
        const BOOL result = module.Password(request, pin, sizeof pin);
        return "result=" + std::to_string(result) + " pin=" + std::string(pin);
      },
      {{"PIN for Quillbox Card: ", "4711\n"}});
  EXPECT_EQ(run.reported, "result=1 pin=4711");
  EXPECT_NE(run.transcript.find("The PIN was not accepted.\r\nThe token locks after one more wrong PIN.\r\n"
                                "This is the last try.\r\nPIN for Quillbox Card: "),
            std::string::npos)
      << run.transcript;
}

TEST(TerminalPassword, RequestTooShortForItsFieldsIsRefused) {
  const std::string reported = RunWithoutTerminal([] {
    CryptdlgModule module;
    QB_CRYPT_PASSWORD_REQUEST request = CryptdlgModule::PasswordRequest("Token");
    request.cbSize = sizeof(DWORD);
    char password[16] = "stale";
    const BOOL result = module.Password(request, password, sizeof password);
    return "result=" + std::to_string(result) + " error=" + std::to_string(GetLastError());
  });
  EXPECT_EQ(reported, "result=0 error=" + std::to_string(ERROR_INVALID_PARAMETER));
}

TEST(TerminalPassword, CtrlCEndsTheProcessWithEchoBackOn) {
  const TerminalRun run = RunOnTerminal(
      [] {
        // The prompt runs in a child that Ctrl-C may end; this process waits it out and reports.
        signal(SIGINT, SIG_IGN);
        const pid_t child = fork();
        if (child == 0) {
          signal(SIGINT, SIG_DFL);
          CryptdlgModule module;
          char password[16];
          module.Password("Token", FALSE, password, sizeof password);
          _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        termios mode{};
        const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
        const bool echo = tty >= 0 && tcgetattr(tty, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
        if (tty >= 0) close(tty);
        return std::string(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT ? "interrupted" : "not interrupted") +
               (echo ? " echo=on" : " echo=off");
      },
      {{"Password for Token: ", "hal\x03"}});
  EXPECT_EQ(run.reported, "interrupted echo=on") << run.transcript;
}

TEST(TerminalPassword, EmptyOrEndOfInputGivesUp) {
  for (const char* typed : {"\n", "\x04"}) {
    const TerminalRun run = RunOnTerminal(
        [] {
          CryptdlgModule module;
          char password[16] = "stale";
          const BOOL result = module.Password("Token", FALSE, password, sizeof password);
          return "result=" + std::to_string(result) + " password=" + std::string(password);
        },
        {{"Password for Token: ", typed}});
    EXPECT_EQ(run.reported, "result=0 password=") << "typed " << static_cast<int>(typed[0]) << "\n" << run.transcript;
  }
}

TEST(TerminalPassword, PasswordThatDoesNotFitIsRefusedNotCut) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        char password[8];
        const BOOL result = module.Password("Token", FALSE, password, sizeof password);
        return "result=" + std::to_string(result) + " password=" + std::string(password);
      },
      {{"Password for Token: ", "12345678\n"}});
  EXPECT_EQ(run.reported, "result=0 password=");
  EXPECT_NE(run.transcript.find("too long"), std::string::npos) << run.transcript;
}

TEST(TerminalPassword, LongestPasswordThatFitsIsTaken) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        char password[8];
        const BOOL result = module.Password("Token", FALSE, password, sizeof password);
        return "result=" + std::to_string(result) + " password=" + std::string(password);
      },
      {{"Password for Token: ", "1234567\n"}});
  EXPECT_EQ(run.reported, "result=1 password=1234567");
}

}  // namespace
}  // namespace quillbox::test
