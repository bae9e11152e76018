// The terminal prompts under a single-byte locale: certificate names (ANSI code page) and the
// Slovenian catalogue's texts reach the terminal in its own encoding, and a password typed in
// that encoding is handed to the store as UTF-8. The code page is fixed at first use, so this
// program sets the locale first.
#include "dialogs/child_process.h"
#include "dialogs/picker_support.h"
#include "dialogs/user_locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillbox::test {
namespace {

std::string& LocaleError() {
  static std::string error;
  return error;
}

TEST(SingleByteTerminal, NamesAndTranslatedTextsAreShownInTheTerminalsEncoding) {
  ASSERT_EQ(LocaleError(), "");
  // "CN=Žiga Čeh, C=SI" and "CN=Šola CA" in ISO-8859-2.
  FakeStore store({{"CN=\xAEiga \xC8" "eh, C=SI", "CN=\xA9ola CA", {0x01}, FileTimeOf(2024, 1, 1),
                   FileTimeOf(2025, 1, 1), {}, ""}});
  const TerminalRun run = RunOnTerminal(
      [&store] {
        CryptdlgModule module;
        SelectRequest request(store.Handle(), "Izberite certifikat \xE8\xB9\xBE");
        return Outcome(module.Select(&request.request), request, store);
      },
      {{"prazno za preklic: ", "?1\n"}, {"prazno za preklic: ", "1\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=0 outstanding=1");
  EXPECT_NE(run.transcript.find("Izberite certifikat \xE8\xB9\xBE"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("1. \xAEiga \xC8" "eh  [Potekel]\r\n"), std::string::npos) << run.transcript;
  // The catalogue's UTF-8 ("ključa", "Številka") reaches the terminal as ISO-8859-2 too.
  EXPECT_NE(run.transcript.find("izdajatelj: \xA9ola CA; potekel 1. 1. 2025; brez zasebnega klju\xE8" "a\r\n"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("\xA9tevilka certifikata (1-1)"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Izdan za:          CN=\xAEiga \xC8" "eh, C=SI\r\n"), std::string::npos)
      << run.transcript;
}

TEST(SingleByteTerminal, PasswordTypedInTheTerminalsEncodingIsGivenAsUtf8) {
  const TerminalRun run = RunOnTerminal(
      [] {
        CryptdlgModule module;
        char password[32];
        // The token name arrives as UTF-8 ("Žeton") and is shown in the terminal's encoding.
        const BOOL result = module.Password("\xC5\xBD" "eton", FALSE, password, sizeof password);
        return "result=" + std::to_string(result) + " password=" + std::string(password);
      },
      {{"Password for \xAE" "eton: ", "ko\xE8ka\n"}});
  EXPECT_EQ(run.reported, "result=1 password=ko\xC4\x8Dka");
}

}  // namespace
}  // namespace quillbox::test

int main(int argc, char** argv) {
  quillbox::test::LocaleError() = quillbox::test::ProvideLocale("sl_SI", "ISO-8859-2");
  setenv("LC_ALL", "sl_SI.ISO-8859-2", 1);
  unsetenv("LANGUAGE");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
