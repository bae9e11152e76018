// The stores people really have, through the quillbox command: a SoftHSM2 token loaded by the
// database (its PIN from a file and from the terminal, counted, locked), a database with a
// password, and the browsers' databases found from HOME.
#include "platform/crypt32/quillbox_process.h"
#include "platform/crypt32/softhsm_token.h"
#include "support/nss_store.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

namespace quillbox::test {
namespace {

constexpr const char* kPin = "4711";
constexpr const char* kCardSubject = "/C=SI/O=Quillbox Tests/CN=Card Signer";
constexpr const char* kDocument = "<form><name>Ana</name></form>\n";

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// One database with a SoftHSM2 token in it holding an openssl-issued certificate and its key.
class CardStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SoftHsmModule().empty()) GTEST_SKIP() << "SoftHSM2 (Debian package softhsm2) is not installed";
    Prepare(SoftHsmModule());
  }

  void Prepare(const std::string& module) {
    database_.emplace(NssDatabase::Create());
    token_.emplace("Quillbox Card", kPin, module);
    token_->AddTo(*database_);
    token_->Import(*database_, MakePkcs12(home_.path(), "card-signer", kCardSubject, "p12 secret"), "p12 secret");
    world_.emplace(home_.path());
    world_->Set("QUILLBOX_NSS_DB", database_->location());
    world_->Set("SOFTHSM2_CONF", token_->directory() + "/softhsm2.conf");
    WriteFile(home_ / "form.xml", kDocument);
    WriteFile(home_ / "pin", std::string(kPin) + "\n");
    WriteFile(home_ / "wrong-pin", "0000\n");
  }

  std::vector<std::string> Sign() const {
    return {"sign", "--subject", "Card Signer", home_ / "form.xml", "-o", home_ / "signed.xml"};
  }
  bool SignedDocumentVerifies() const { return world_->Run({"verify", home_ / "signed.xml"}).status == 0; }

  TempDir home_{"quillbox-card-home"};
  std::optional<NssDatabase> database_;
  std::optional<SoftHsmToken> token_;
  std::optional<QuillboxWorld> world_;
};

TEST_F(CardStore, ListingWithTheModuleLoadedExitsCleanlyWithAllItsOutput) {
  const QuillboxResult listed = world_->Run({"certs"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("subject: CN=Card Signer, O=Quillbox Tests, C=SI\n"), std::string::npos) << listed.out;
  // The key is behind the PIN, which listing never asks for.
  EXPECT_NE(listed.out.find("key:     on token \"Quillbox Card\" (PIN needed)\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("from:    token \"Quillbox Card\"\n"), std::string::npos) << listed.out;
  EXPECT_TRUE(listed.out.ends_with("\n"));
  EXPECT_EQ(listed.err, "");
}

TEST_F(CardStore, ListingOnATerminalAsksNothing) {
  const TerminalRun run = world_->RunOnTerminal({"certs"}, {});
  EXPECT_TRUE(run.reported.starts_with("status=0 echo=on\n")) << run.reported;
  EXPECT_EQ(run.transcript.find("PIN"), std::string::npos) << run.transcript;
}

TEST_F(CardStore, SignsUnattendedWithThePinFromAFile) {
  std::vector<std::string> arguments = {"--password-file", home_ / "pin"};
  for (const std::string& argument : Sign()) arguments.push_back(argument);
  const QuillboxResult signed_ = world_->Run(arguments);
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  EXPECT_TRUE(SignedDocumentVerifies());

  // The variable does the same, and wins over a terminal that could be asked.
  world_->Set("QUILLBOX_NSS_PASSWORD_FILE", home_ / "pin");
  const TerminalRun run = world_->RunOnTerminal(Sign(), {});
  EXPECT_TRUE(run.reported.starts_with("status=0")) << run.reported;
  EXPECT_EQ(run.transcript.find("PIN for"), std::string::npos) << run.transcript;
}

TEST_F(CardStore, SignsWithThePinTypedAtTheTerminal) {
  const TerminalRun run = world_->RunOnTerminal(Sign(), {{"PIN for Quillbox Card: ", std::string(kPin) + "\n"}});
  EXPECT_TRUE(run.reported.starts_with("status=0 echo=on\n")) << run.reported << run.transcript;
  EXPECT_EQ(run.transcript.find(kPin), std::string::npos) << "the PIN was echoed";
  EXPECT_TRUE(SignedDocumentVerifies());
}

TEST_F(CardStore, WrongPinsAreAskedForThreeTimesInAllAndSaidToBeWrong) {
  const TerminalRun run = world_->RunOnTerminal(Sign(), {{"PIN for Quillbox Card: ", "1\n"},
                                                         {"PIN for Quillbox Card: ", "2\n"},
                                                         {"PIN for Quillbox Card: ", "3\n"}});
  EXPECT_TRUE(run.reported.starts_with("status=1 echo=on\n")) << run.reported;
  EXPECT_NE(run.reported.find("ERR_ADOPT_CERT_KEY (6)"), std::string::npos) << run.reported;
  EXPECT_NE(run.reported.find("which needs a PIN, and no right one was given"), std::string::npos) << run.reported;
  EXPECT_EQ(Count(run.transcript, "PIN for Quillbox Card: "), 3u) << run.transcript;
  EXPECT_EQ(Count(run.transcript, "The PIN was not accepted."), 2u) << run.transcript;
  EXPECT_NE(run.transcript.find("2 tries are left."), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("This is the last try."), std::string::npos) << run.transcript;
  // SoftHSM2 counts the wrong PINs too, and says so.
  EXPECT_NE(run.transcript.find("The token has counted wrong PINs"), std::string::npos) << run.transcript;
}

TEST_F(CardStore, WrongPinFileIsTriedOnceAndNothingIsAsked) {
  const TerminalRun run = world_->RunOnTerminal(
      {"--password-file", home_ / "wrong-pin", "sign", "--subject", "Card Signer", home_ / "form.xml"}, {});
  EXPECT_TRUE(run.reported.starts_with("status=1")) << run.reported;
  EXPECT_EQ(run.transcript.find("PIN for"), std::string::npos) << run.transcript;
}

TEST_F(CardStore, CtrlCAtThePromptLeavesTheTerminalEchoing) {
  const TerminalRun run = world_->RunOnTerminal(Sign(), {{"PIN for Quillbox Card: ", "12\x03"}});
  // Ended by the interrupt as the user asked, with echo back on.
  EXPECT_TRUE(run.reported.starts_with("status=130 echo=on\n")) << run.reported << run.transcript;
}

// The same token behind a module that reports the PIN states SoftHSM2 itself never reaches.
class GuardedCard : public CardStore {
 protected:
  void SetUp() override {
    if (SoftHsmModule().empty()) GTEST_SKIP() << "SoftHSM2 (Debian package softhsm2) is not installed";
    setenv("QUILLBOX_TEST_REAL_PKCS11", SoftHsmModule().c_str(), 1);
    Prepare(std::string(QUILLBOX_FAKE_DIR) + "/pin_state_pkcs11.so");
    world_->Set("QUILLBOX_TEST_REAL_PKCS11", SoftHsmModule());
  }
};

TEST_F(GuardedCard, APlatformClientThatNeverClosesTheSessionShutsNssDownAtExit) {
  // The probe opens the store with the module loaded and returns from main, leaving the session
  // to the platform's exit handling; its buffered output goes to a pipe. The module reports a
  // clean C_Finalize: NSS was shut down, and while the module was still intact.
  setenv("QUILLBOX_NSS_DB", database_->location().c_str(), 1);
  setenv("QUILLBOX_TEST_FINALIZED", (home_ / "finalized").c_str(), 1);
  const CommandResult probe = RunCommand({std::string(QUILLBOX_TEST_DIR) + "/certs_store_exit_probe"});
  unsetenv("QUILLBOX_TEST_FINALIZED");
  unsetenv("QUILLBOX_NSS_DB");
  EXPECT_EQ(probe.status, 0) << probe.output;
  EXPECT_EQ(probe.output, "certificates: 1\n");
  EXPECT_EQ(ReadFile(home_ / "finalized"), "finalized\n");

  // The quillbox command closes the session itself before main returns.
  std::remove((home_ / "finalized").c_str());
  world_->Set("QUILLBOX_TEST_FINALIZED", home_ / "finalized");
  const QuillboxResult listed = world_->Run({"certs"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("CN=Card Signer"), std::string::npos);
  EXPECT_EQ(ReadFile(home_ / "finalized"), "finalized\n");
}

TEST_F(GuardedCard, LockedTokenIsAnErrorAtOnce) {
  world_->Set("QUILLBOX_TEST_PIN_STATE", "locked");
  const TerminalRun run = world_->RunOnTerminal(Sign(), {});
  EXPECT_TRUE(run.reported.starts_with("status=1")) << run.reported;
  EXPECT_NE(run.reported.find("whose PIN is locked"), std::string::npos) << run.reported;
  EXPECT_EQ(run.transcript.find("PIN for"), std::string::npos) << run.transcript;
  const QuillboxResult listed = world_->Run({"certs"});
  EXPECT_NE(listed.out.find("key:     on token \"Quillbox Card\" (locked"), std::string::npos) << listed.out;
}

TEST_F(GuardedCard, FinalTryIsToldBeforeTheUserTypes) {
  world_->Set("QUILLBOX_TEST_PIN_STATE", "final");
  const TerminalRun run = world_->RunOnTerminal(Sign(), {{"PIN for Quillbox Card: ", std::string(kPin) + "\n"}});
  EXPECT_TRUE(run.reported.starts_with("status=0")) << run.reported;
  EXPECT_NE(run.transcript.find("The token locks after one more wrong PIN."), std::string::npos) << run.transcript;
}

// A software database with a password, holding an openssl-issued certificate and key.
class PasswordStore : public ::testing::Test {
 protected:
  static constexpr const char* kPassword = "Pšenica 7";
  void SetUp() override {
    database_.emplace(NssDatabase::Create(kPassword));
    database_->ImportPkcs12(MakePkcs12(home_.path(), "guarded", "/O=Quillbox Tests/CN=Guarded Signer", "x"), "x");
    world_.emplace(home_.path());
    world_->Set("QUILLBOX_NSS_DB", database_->location());
    WriteFile(home_ / "form.xml", kDocument);
    WriteFile(home_ / "password", std::string(kPassword) + "\n");
  }
  std::vector<std::string> Sign() const { return {"sign", "--subject", "Guarded Signer", home_ / "form.xml"}; }

  TempDir home_{"quillbox-password-home"};
  std::optional<NssDatabase> database_;
  std::optional<QuillboxWorld> world_;
};

TEST_F(PasswordStore, ListsTheKeyAsBehindThePassword) {
  const QuillboxResult listed = world_->Run({"certs"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("key:     on token \"NSS Certificate DB\" (password needed)\n"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("from:    QUILLBOX_NSS_DB (" + database_->location() + ")\n"), std::string::npos)
      << listed.out;
}

TEST_F(PasswordStore, SignsUnattendedWithThePasswordFile) {
  std::vector<std::string> arguments = Sign();
  arguments.insert(arguments.end(), {"--password-file", home_ / "password"});  // after the command too
  const QuillboxResult signed_ = world_->Run(arguments);
  EXPECT_EQ(signed_.status, 0) << signed_.err;
  EXPECT_NE(signed_.out.find("<X509Certificate>"), std::string::npos);
  // Without one and without a terminal, nothing can answer.
  const QuillboxResult refused = world_->Run(Sign());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("ERR_ADOPT_CERT_KEY (6)"), std::string::npos) << refused.err;
}

TEST_F(PasswordStore, AsksForThePasswordOnTheTerminal) {
  const TerminalRun run =
      world_->RunOnTerminal(Sign(), {{"Password for NSS Certificate DB: ", std::string(kPassword) + "\n"}});
  EXPECT_TRUE(run.reported.starts_with("status=0 echo=on\n")) << run.reported << run.transcript;
  EXPECT_NE(run.reported.find("<X509Certificate>"), std::string::npos);
}

TEST_F(PasswordStore, ImportKeepsItsOwnPasswordFileForThePkcs12) {
  // After "certs import", --password-file is the PKCS#12 file's; the database's comes first.
  const std::string p12 = MakePkcs12(home_.path(), "second", "/CN=Second Guarded", "file secret");
  WriteFile(home_ / "p12-password", "file secret\n");
  const QuillboxResult imported =
      world_->Run({"--password-file", home_ / "password", "certs", "import", p12, "--password-file", home_ / "p12-password"});
  EXPECT_EQ(imported.status, 0) << imported.out << imported.err;
  EXPECT_NE(world_->Run({"certs"}).out.find("CN=Second Guarded"), std::string::npos);
}

TEST(ListingMarks, ExpiredNotYetValidAndNotForSigning) {
  TempDir home("quillbox-marks-home");
  NssDatabase database = NssDatabase::Create();
  WriteFile(home / "noise", std::string(2048, 'n') + "some more noise 0123456789");
  auto make = [&](const std::string& nickname, const std::string& subject, const std::string& warp,
                  const std::string& usage) {
    Require(RunCommand({"certutil", "-S", "-d", database.location(), "-n", nickname, "-s", subject, "-x", "-t", "u,u,u",
                        "-k", "rsa", "-g", "2048", "-w", warp, "-v", "12", "-z", home / "noise", "--keyUsage", usage}),
            "certutil -S");
  };
  make("expired", "CN=Expired Signer", "-13", "digitalSignature");
  make("future", "CN=Future Signer", "2", "digitalSignature,nonRepudiation");
  make("encipher", "CN=Encipher Only", "0", "keyEncipherment");
  QuillboxWorld world(home.path());
  world.Set("QUILLBOX_NSS_DB", database.location());
  const QuillboxResult listed = world.Run({"certs"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  auto entry = [&](const std::string& subject) {
    const auto at = listed.out.find("subject: " + subject + "\n");
    if (at == std::string::npos) return std::string();
    return listed.out.substr(at, listed.out.find("\n\n", at) - at);
  };
  EXPECT_NE(entry("CN=Expired Signer").find(" (expired)\n"), std::string::npos) << listed.out;
  EXPECT_EQ(entry("CN=Expired Signer").find("usage:"), std::string::npos) << listed.out;
  EXPECT_NE(entry("CN=Future Signer").find(" (not yet valid)\n"), std::string::npos) << listed.out;
  const std::string encipher = entry("CN=Encipher Only");
  EXPECT_EQ(encipher.find("(expired)"), std::string::npos) << listed.out;
  EXPECT_EQ(encipher.find("(not yet valid)"), std::string::npos) << listed.out;
  EXPECT_NE(encipher.find("usage:   not for signing (its key usage excludes digitalSignature)\n"), std::string::npos)
      << listed.out;
}

}  // namespace
}  // namespace quillbox::test
