// The terminal prompts under a single-byte locale: certificate names (ANSI code page) reach the
// terminal in its own encoding unchanged, and a password typed in that encoding is handed to the
// store as UTF-8. The code page is fixed at first use, so this program sets the locale first.
#include "picker/child_process.h"
#include "picker/picker_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillbox::test {
namespace {

TEST(SingleByteTerminal, NamesAreShownInTheTerminalsEncoding) {
  // "CN=Žiga Čeh, C=SI" and "CN=Šola CA" in ISO-8859-2.
  FakeStore store({{"CN=\xAEiga \xC8" "eh, C=SI", "CN=\xA9ola CA", {0x01}, FileTimeOf(2024, 1, 1), FileTimeOf(2025, 1, 1)}});
  const TerminalRun run = RunOnTerminal(
      [&store] {
        CryptdlgModule module;
        SelectRequest request(store.Handle(), "Izberite certifikat \xE8\xB9\xBE");
        return Outcome(module.Select(&request.request), request, store);
      },
      {{"empty to cancel: ", "1\n"}});
  EXPECT_EQ(run.reported, "result=1 count=1 chosen=0 outstanding=1");
  EXPECT_NE(run.transcript.find("Izberite certifikat \xE8\xB9\xBE"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("1. CN=\xAEiga \xC8" "eh, C=SI"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Issuer:        CN=\xA9ola CA"), std::string::npos) << run.transcript;
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
  setenv("LC_ALL", "sl_SI.ISO-8859-2", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
