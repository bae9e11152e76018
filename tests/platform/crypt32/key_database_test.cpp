// A personal store whose key database (key4.db) is missing, empty or unreadable: told as what it
// is, with the file's path, and never as a password to be given.
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/crypto_session.h"
#include "support/module_lock_audit.h"
#include "signing/signing_key.h"
#include "support/nss_store.h"
#include "support/process.h"
#include "support/recorded.h"

#include <qbcrypt.h>

#include <xmlsec/keys.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace quillbox::test {
namespace {

constexpr const char16_t* kSubject = u"Keyless Signer";

int promptCalls = 0;

BOOL WINAPI CountingPrompt(void*, PQB_CRYPT_PASSWORD_REQUEST, LPSTR, DWORD) {
  ++promptCalls;
  return FALSE;
}

// A database with one certificate and its key, in a directory of its own for each test; the
// test then does to its key database what the case is about.
class KeyDatabase : public ModuleLockAudit {
 protected:
  void SetUp() override {
    database_ = std::make_unique<NssDatabase>(NssDatabase::Create());
    database_->AddCertificate({"keyless", "CN=Keyless Signer,O=Example,C=SI", "", 11});
    setenv("QUILLBOX_NSS_DB", database_->location().c_str(), 1);
    unsetenv("QUILLBOX_NSS_PASSWORD_FILE");
    ClearErrorState();
    promptCalls = 0;
    QbCryptSetPasswordPrompt(CountingPrompt, nullptr);
  }
  void TearDown() override {
    QbCryptSetPasswordPrompt(nullptr, nullptr);
    ClearErrorState();
    EXPECT_TRUE(QbCryptCloseSession());
    held_.Release();
    database_.reset();
    ModuleLockAudit::TearDown();
  }

  std::string KeyFile() const { return database_->directory() + "/key4.db"; }

  static QB_KEY_DATABASE_STATE StateOf(const char* location, std::string& path) {
    char text[1024] = "x";
    const QB_KEY_DATABASE_STATE state = QbCryptKeyDatabaseState(location, text, sizeof text);
    path = text;
    return state;
  }

  // The certificate is listed (its public key is in the certificate database); its key is not
  // there. What CreateSigningKey reports, and what the key's place says.
  std::u16string SigningKeyFailure() {
    CryptoSession session;
    UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    EXPECT_TRUE(store);
    if (!store) return {};
    UniqueCertContext certificate(
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, kSubject, nullptr));
    EXPECT_TRUE(certificate);
    if (!certificate) return {};
    EXPECT_EQ(Recorded(CreateSigningKey(certificate.get())), nullptr);
    const LockedErrorState state = TheErrorState();
    EXPECT_EQ(state->ErrorNo, 6);  // the number stays what it always was
    return state->ErrorDesc != nullptr ? std::u16string(state->ErrorDesc) : u"";
  }

  static std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

  std::unique_ptr<NssDatabase> database_;
  HeldSignature held_;
};

TEST_F(KeyDatabase, AMissingOneIsToldAsMissingAndNoPasswordIsAskedFor) {
  std::filesystem::remove(KeyFile());
  const std::u16string description = SigningKeyFailure();
  EXPECT_NE(description.find(u"no key database (" + Wide(KeyFile()) + u" was missing"), std::u16string::npos)
      << std::string(description.begin(), description.end());
  EXPECT_EQ(description.find(u"password, and"), std::u16string::npos);
  EXPECT_EQ(promptCalls, 0);
  std::string path;
  EXPECT_EQ(StateOf(nullptr, path), QB_KEY_DATABASE_MISSING);
  EXPECT_EQ(path, KeyFile());
  EXPECT_EQ(StateOf(database_->location().c_str(), path), QB_KEY_DATABASE_MISSING);

  // NSS made an empty one as it opened the database: the next session finds that.
  EXPECT_TRUE(QbCryptCloseSession());
  EXPECT_TRUE(std::filesystem::exists(KeyFile()));
  ClearErrorState();
  const std::u16string again = SigningKeyFailure();
  EXPECT_NE(again.find(u"the key database " + Wide(KeyFile()) + u" is empty"), std::u16string::npos)
      << std::string(again.begin(), again.end());
  EXPECT_EQ(promptCalls, 0);
}

TEST_F(KeyDatabase, AnEmptyFileIsToldAsEmpty) {
  std::filesystem::resize_file(KeyFile(), 0);
  const std::u16string description = SigningKeyFailure();
  EXPECT_NE(description.find(u"the key database " + Wide(KeyFile()) + u" is empty"), std::u16string::npos)
      << std::string(description.begin(), description.end());
  EXPECT_EQ(promptCalls, 0);
  std::string path;
  EXPECT_EQ(StateOf(nullptr, path), QB_KEY_DATABASE_EMPTY);
  // The listing says where the key would be without offering a login that cannot work.
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  UniqueCertContext certificate(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, kSubject, nullptr));
  ASSERT_TRUE(certificate);
  QB_CERT_KEY_INFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(QbCertKeyInfo(certificate.get(), &info));
  EXPECT_EQ(std::string(info.source), database_->location());
  EXPECT_EQ(promptCalls, 0);
}

TEST_F(KeyDatabase, AFileThatIsNoDatabaseIsUnreadableAndTheStoreDoesNotOpen) {
  WriteFile(KeyFile(), std::string(4096, '\x5a'));
  EXPECT_FALSE(QbCryptOpenSession(TRUE));
  QB_CRYPT_STORE_DATABASE database{};
  database.cbSize = sizeof database;
  ASSERT_TRUE(QbCryptStoreDatabase(0, &database));
  EXPECT_TRUE(database.exists);
  EXPECT_FALSE(database.open);
  std::string path;
  EXPECT_EQ(StateOf(database_->location().c_str(), path), QB_KEY_DATABASE_UNREADABLE);
  EXPECT_EQ(path, KeyFile());
}

TEST_F(KeyDatabase, AnIntactOneIsFineAndSigns) {
  std::string path;
  CryptoSession session;
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  EXPECT_EQ(StateOf(nullptr, path), QB_KEY_DATABASE_FINE);
  EXPECT_EQ(path, KeyFile());
  UniqueCertContext certificate(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, kSubject, nullptr));
  ASSERT_TRUE(certificate);
  const UniqueKey key = Recorded(CreateSigningKey(certificate.get()));
  EXPECT_NE(key, nullptr);
  // A database that does not exist has no key database to speak of.
  EXPECT_EQ(StateOf(("sql:" + database_->directory() + "/nowhere").c_str(), path), QB_KEY_DATABASE_FINE);
}

}  // namespace
}  // namespace quillbox::test
