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

#include "signing/signing_key.h"
#include "support/recorded.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
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
  std::string database;
  std::vector<BOOL> retries;
  std::vector<DWORD> triesLeft;
  std::vector<BOOL> pins;
  const char* answer = nullptr;  // null: decline
};

BOOL WINAPI Prompt(void* context, PQB_CRYPT_PASSWORD_REQUEST request, LPSTR password, DWORD size) {
  auto* log = static_cast<PromptLog*>(context);
  ++log->calls;
  EXPECT_EQ(request->cbSize, sizeof(QB_CRYPT_PASSWORD_REQUEST));
  log->token = request->tokenName != nullptr ? request->tokenName : "";
  log->database = request->database != nullptr ? request->database : "";
  log->retries.push_back(request->retry);
  log->triesLeft.push_back(request->triesLeft);
  log->pins.push_back(request->pin);
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
    xmlSecKeyPtr key = Recorded(CreateSigningKey(certificate.get())).release();
    if (key == nullptr) return false;
    if (sign) {
      EXPECT_EQ(SignSmallDocument(key).status, 0);
    }
    xmlSecKeyDestroy(key);
    return true;
  }
  std::u16string ErrorDesc() const {
    const LockedErrorState state = TheErrorState();
    return state->ErrorDesc != nullptr ? std::u16string(state->ErrorDesc) : u"";
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
  EXPECT_EQ(TheErrorState()->ErrorNo, 6);
  EXPECT_NE(ErrorDesc().find(u"needs a password"), std::u16string::npos) << std::string(ErrorDesc().begin(), ErrorDesc().end());
}

TEST_F(GuardedKey, PromptAnswerUnlocksTheKey) {
  log.answer = kPassword;
  EXPECT_TRUE(BuildKey(true));
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.retries, std::vector<BOOL>{FALSE});
  EXPECT_EQ(log.token, "NSS Certificate DB");
  // A database is asked for its password, and says which database it is.
  EXPECT_EQ(log.pins, std::vector<BOOL>{FALSE});
  EXPECT_EQ(log.database, Database()->location());
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);
}

TEST_F(GuardedKey, KeyInfoTellsThePasswordIsNeededWithoutAsking) {
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  UniqueCertContext certificate(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                           u"Guarded Signer", nullptr));
  ASSERT_TRUE(certificate);
  QB_CERT_KEY_INFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(QbCertKeyInfo(certificate.get(), &info));
  EXPECT_EQ(info.state, QB_CERT_KEY_LOGIN_NEEDED);
  EXPECT_FALSE(info.hardware);
  EXPECT_STREQ(info.tokenName, "NSS Certificate DB");
  EXPECT_EQ(std::string(info.source), Database()->location());
  EXPECT_STREQ(info.sourceLabel, "QUILLBOX_NSS_DB");
  EXPECT_EQ(log.calls, 0);

  log.answer = kPassword;
  EXPECT_TRUE(BuildKey());
  ASSERT_TRUE(QbCertKeyInfo(certificate.get(), &info));
  EXPECT_EQ(info.state, QB_CERT_KEY_READY);
}

TEST_F(GuardedKey, DecliningPromptFails) {
  log.answer = nullptr;
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(TheErrorState()->ErrorNo, 6);
}

TEST_F(GuardedKey, WrongAnswersAreGivenUpAfterThreeWhateverAsks) {
  log.answer = "wrong";
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 3);
  EXPECT_EQ(log.retries, (std::vector<BOOL>{FALSE, TRUE, TRUE}));
  EXPECT_EQ(log.triesLeft, (std::vector<DWORD>{3, 2, 1}));
  EXPECT_EQ(TheErrorState()->ErrorNo, 6);
  // A second key lookup in the same session is not a fresh three tries.
  ClearErrorState();
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 3);
  EXPECT_EQ(TheErrorState()->ErrorNo, 6);
}

// The first answer wrong, the retry right: two answers, and the key is had.
BOOL WINAPI WrongThenRight(void* context, PQB_CRYPT_PASSWORD_REQUEST request, LPSTR password, DWORD size) {
  auto* log = static_cast<PromptLog*>(context);
  log->answer = log->calls == 0 ? "wrong" : kPassword;
  return Prompt(context, request, password, size);
}

TEST_F(GuardedKey, RightAnswerAfterAWrongOneUnlocks) {
  QbCryptSetPasswordPrompt(WrongThenRight, &log);
  EXPECT_TRUE(BuildKey(true));
  EXPECT_EQ(log.calls, 2);
  EXPECT_EQ(log.retries, (std::vector<BOOL>{FALSE, TRUE}));
  EXPECT_EQ(log.triesLeft, (std::vector<DWORD>{3, 2}));
}

TEST_F(GuardedKey, PasswordFileUnlocksTheKey) {
  QbCryptSetPasswordPrompt(nullptr, nullptr);
  TempDir dir;
  WriteFile(dir / "password", std::string(kPassword) + "\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  EXPECT_TRUE(BuildKey(true));
}

TEST_F(GuardedKey, WrongPasswordFileIsTriedOnceAndThePromptNever) {
  TempDir dir;
  WriteFile(dir / "password", "not it\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  log.answer = kPassword;
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(TheErrorState()->ErrorNo, 6);
  // Nor once the file is put right: the token has had its one answer from the file.
  WriteFile(dir / "password", std::string(kPassword) + "\n");
  ClearErrorState();
  EXPECT_FALSE(BuildKey());
  EXPECT_EQ(log.calls, 0);
}

TEST_F(GuardedKey, FileTakesPrecedenceOverThePrompt) {
  TempDir dir;
  WriteFile(dir / "password", std::string(kPassword) + "\n");
  setenv("QUILLBOX_NSS_PASSWORD_FILE", (dir / "password").c_str(), 1);
  log.answer = "wrong";
  EXPECT_TRUE(BuildKey(true));
  EXPECT_EQ(log.calls, 0);
}


// A database whose key file is gone (NSS makes a new, empty one in its place) or emptied keeps its
// certificates, and its token asks for a login; no password could bring the keys back, so none is
// asked for and both the listing and Sign say what is wrong.
TEST_F(GuardedKey, AMissingOrEmptyKeyDatabaseIsToldAsSuchAndNoPasswordIsAsked) {
  for (const bool remove : {true, false}) {
    NssDatabase copy = NssDatabase::CopyOf(Database()->directory(), kPassword);
    const std::string keys = copy.directory() + "/key4.db";
    if (remove) {
      ASSERT_EQ(std::remove(keys.c_str()), 0);
    } else {
      std::ofstream(keys, std::ios::trunc).close();
    }
    setenv("QUILLBOX_NSS_DB", copy.location().c_str(), 1);
    {
      UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
      ASSERT_TRUE(store);
      UniqueCertContext certificate(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                               CERT_FIND_SUBJECT_STR_W, u"Guarded Signer", nullptr));
      ASSERT_TRUE(certificate) << (remove ? "missing" : "empty");
      QB_CERT_KEY_INFO info{};
      info.cbSize = sizeof info;
      ASSERT_TRUE(QbCertKeyInfo(certificate.get(), &info));
      EXPECT_EQ(info.state, QB_CERT_KEY_UNINITIALISED);
      log.answer = kPassword;
      EXPECT_FALSE(BuildKey());
      EXPECT_EQ(TheErrorState()->ErrorNo, 6);
      const std::u16string description = ErrorDesc();
      EXPECT_NE(description.find(u"key4.db"), std::u16string::npos) << std::string(description.begin(), description.end());
      EXPECT_EQ(description.find(u"password"), std::u16string::npos);
      EXPECT_EQ(log.calls, 0);
    }
    ClearErrorState();
    EXPECT_TRUE(QbCryptCloseSession());
    setenv("QUILLBOX_NSS_DB", Database()->location().c_str(), 1);
  }
}

}  // namespace
}  // namespace quillbox::test
