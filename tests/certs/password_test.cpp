// A database whose keys need a password: the store opens without one, and the key is reached
// through the prompt hook or the password file, or fails with a clear error, never a hang.
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/crypto_session.h"
#include "support/nss_store.h"
#include "support/sign_document.h"
#include "support/module_lock_audit.h"

#include <qbcrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace quillbox::test {
namespace {

constexpr const char* kPassword = "Pšenica & 7 mlinov";

std::unique_ptr<NssDatabase>& Database() {
  static std::unique_ptr<NssDatabase> database;
  return database;
}

class PasswordDatabase : public ::testing::Environment {
 public:
  void SetUp() override {
    Database() = std::make_unique<NssDatabase>(NssDatabase::Create(kPassword));
    Database()->AddCertificate({"guarded", "CN=Guarded Signer,O=Example,C=SI", "", 7});
    setenv("QUILLBOX_NSS_DB", Database()->location().c_str(), 1);
  }
  void TearDown() override { Database().reset(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PasswordDatabase);

struct PromptLog {
  int calls = 0;
  std::string token;
  std::vector<BOOL> retries;
  const char* answer = nullptr;  // null: decline
};

BOOL WINAPI Prompt(void* context, LPCSTR tokenName, BOOL retry, LPSTR password, DWORD size) {
  auto* log = static_cast<PromptLog*>(context);
  ++log->calls;
  log->token = tokenName != nullptr ? tokenName : "";
  log->retries.push_back(retry);
  if (log->answer == nullptr || std::strlen(log->answer) + 1 > size) return FALSE;
  std::strcpy(password, log->answer);
  return TRUE;
}

class GuardedKey : public ModuleLockAudit {
 protected:
  void SetUp() override {
    ClearErrorState();
    unsetenv("QUILLBOX_NSS_PASSWORD_FILE");
    QbCryptSetPasswordPrompt(Prompt, &log);
  }
  void TearDown() override {
    QbCryptSetPasswordPrompt(nullptr, nullptr);
    unsetenv("QUILLBOX_NSS_PASSWORD_FILE");
    ClearErrorState();
    // A fresh session for the next test: NSS forgets the login with it.
    EXPECT_TRUE(QbCryptCloseSession());
    held.Release();
    ModuleLockAudit::TearDown();
  }

  // Finds the guarded certificate and builds its key; the key is destroyed before returning.
  bool BuildKey(bool sign = false) {
    CryptoSession session;
    UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    EXPECT_TRUE(store);
    if (!store) return false;
    UniqueCertContext certificate(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                             CERT_FIND_SUBJECT_STR_W, u"Guarded Signer", nullptr));
    EXPECT_TRUE(certificate);
    if (!certificate) return false;
    xmlSecKeyPtr key = object.CreateSigningKey(certificate.get());
    if (key == nullptr) return false;
    if (sign) {
      EXPECT_EQ(SignSmallDocument(key).status, 0);
    }
    xmlSecKeyDestroy(key);
    return true;
  }
  std::u16string ErrorDesc() const {
    return TheErrorState().ErrorDesc != nullptr ? std::u16string(TheErrorState().ErrorDesc) : u"";
  }

  PromptLog log;
  HeldSignature held;
  Signature& object = *held;
};

TEST_F(GuardedKey, StoreListsTheCertificateWithoutAskingForThePassword) {
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                    u"guarded", nullptr);
  EXPECT_NE(found, nullptr);
  CertFreeCertificateContext(found);
  EXPECT_EQ(log.calls, 0);
}

TEST_F(GuardedKey, NoAnswerFailsWithAClearError) {
  QbCryptSetPasswordPrompt(nullptr, nullptr);
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(TheErrorState().ErrorNo, 6);
  EXPECT_NE(ErrorDesc().find(u"needs a password"), std::u16string::npos) << std::string(ErrorDesc().begin(), ErrorDesc().end());
}

TEST_F(GuardedKey, PromptAnswerUnlocksTheKey) {
  log.answer = kPassword;
  EXPECT_TRUE(BuildKey(true));
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.retries, std::vector<BOOL>{FALSE});
  EXPECT_FALSE(log.token.empty());
  EXPECT_EQ(TheErrorState().ErrorNo, 0);
}

TEST_F(GuardedKey, DecliningPromptFails) {
  log.answer = nullptr;
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(TheErrorState().ErrorNo, 6);
}

TEST_F(GuardedKey, WrongAnswersAreGivenUpAfterThree) {
  log.answer = "wrong";
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 3);
  EXPECT_EQ(log.retries, (std::vector<BOOL>{FALSE, TRUE, TRUE}));
  EXPECT_EQ(TheErrorState().ErrorNo, 6);
}

TEST_F(GuardedKey, PasswordFileUnlocksTheKeyWhenNoPromptIsSet) {
  QbCryptSetPasswordPrompt(nullptr, nullptr);
  TempDir dir;
  WriteFile(dir / "password", std::string(kPassword) + "\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  EXPECT_TRUE(BuildKey(true));
}

TEST_F(GuardedKey, WrongPasswordFileIsReadOnce) {
  QbCryptSetPasswordPrompt(nullptr, nullptr);
  TempDir dir;
  WriteFile(dir / "password", "not it\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(TheErrorState().ErrorNo, 6);
}

TEST_F(GuardedKey, PromptTakesPrecedenceOverTheFile) {
  TempDir dir;
  WriteFile(dir / "password", "not it\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  log.answer = kPassword;
  EXPECT_TRUE(BuildKey());
  EXPECT_EQ(log.calls, 1);
}

}  // namespace
}  // namespace quillbox::test
