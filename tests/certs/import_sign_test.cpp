// End to end on a database made the way a user makes one: a certificate and key imported with
// pk12util into a fresh database is found by issuer and serial and by subject, and its key
// signs a document that xmlsec1 verifies against the exported certificate.
#include "certs/cert_handles.h"
#include "certs/text_forms.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/crypto_session.h"
#include "support/nss_store.h"
#include "support/sign_document.h"
#include "store_lookup_fixture.h"
#include "support/module_lock_audit.h"

#include <qbcrypt.h>

#include "signing/signing_key.h"
#include "support/recorded.h"

#include <gtest/gtest.h>

#include <memory>

namespace quillbox::test {
namespace {

constexpr const char* kSubject = "CN=Imported Signer,OU=Desk,O=Example,C=SI";
constexpr const char16_t* kIssuerText = u"CN=Imported Signer, OU=Desk, O=Example, C=SI";
constexpr long kSerial = 0x3039;
constexpr const char16_t* kSerialText = u"3039";

struct Imported {
  std::unique_ptr<NssDatabase> database;
  TempDir files;
  std::string certificatePem() const { return files / "imported.pem"; }
};

Imported& TheImport() {
  static Imported imported;
  return imported;
}

class ImportedDatabase : public ::testing::Environment {
 public:
  void SetUp() override {
    Imported& imported = TheImport();
    // The key pair is made elsewhere and travels as a PKCS#12 file, as from a certificate authority.
    NssDatabase origin = NssDatabase::Create();
    origin.AddCertificate({"imported", kSubject, "", kSerial});
    const std::string p12 = imported.files / "imported.p12";
    origin.ExportPkcs12("imported", p12, "transport");
    origin.ExportPem("imported", imported.certificatePem());

    imported.database = std::make_unique<NssDatabase>(NssDatabase::Create());
    imported.database->ImportPkcs12(p12, "transport");
    setenv("QUILLBOX_NSS_DB", imported.database->location().c_str(), 1);
  }
  void TearDown() override {
    EXPECT_TRUE(QbCryptCloseSession());
    TheImport().database.reset();
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ImportedDatabase);

using ImportedCertificate = StoreLookup;

TEST_F(ImportedCertificate, FoundByIssuerAndSerial) {
  object.put_CertIssuerName(UniqueBstr::Copy(kIssuerText).get());
  object.put_CertSerial(UniqueBstr::Copy(kSerialText).get());
  UniqueCertContext found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
  ASSERT_TRUE(found);
  EXPECT_EQ(Take(IssuerNameText(found.get())), kIssuerText);
  EXPECT_EQ(Take(SerialNumberText(found.get())), kSerialText);
}

TEST_F(ImportedCertificate, FoundBySubject) {
  object.put_CertFindOption(FindBySubject);
  object.put_CertSubject(UniqueBstr::Copy(u"imported signer").get());
  UniqueCertContext found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
  ASSERT_TRUE(found);
  EXPECT_EQ(Take(SerialNumberText(found.get())), kSerialText);
}

class SignedWithImportedKey : public ImportedCertificate {
 protected:
  // Signs, writes the document out and asks xmlsec1 whether the signature holds.
  CommandResult SignAndVerify(bool tamper) {
    object.put_CertIssuerName(UniqueBstr::Copy(kIssuerText).get());
    object.put_CertSerial(UniqueBstr::Copy(kSerialText).get());
    UniqueCertContext found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
    EXPECT_TRUE(found);
    if (!found) return {};
    xmlSecKeyPtr key = Recorded(CreateSigningKey(found.get())).release();
    EXPECT_NE(key, nullptr);
    if (key == nullptr) return {};
    SignedDocument signed_ = SignSmallDocument(key, "<invoice><total>42.00</total></invoice>");
    xmlSecKeyDestroy(key);
    EXPECT_EQ(signed_.status, 0);
    if (tamper) {
      const auto at = signed_.xml.find("42.00");
      EXPECT_NE(at, std::string::npos);
      signed_.xml.replace(at, 5, "43.00");
    }
    TempDir dir;
    WriteFile(dir / "signed.xml", signed_.xml);
    return RunCommand({"xmlsec1", "--verify", "--trusted-pem", TheImport().certificatePem(), dir / "signed.xml"});
  }

  CryptoSession session;
};

TEST_F(SignedWithImportedKey, SignatureVerifiesWithXmlsec1) {
  const CommandResult verified = SignAndVerify(false);
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_NE(verified.output.find("OK"), std::string::npos) << verified.output;
}

TEST_F(SignedWithImportedKey, ChangedDocumentFailsVerification) {
  const CommandResult verified = SignAndVerify(true);
  EXPECT_NE(verified.status, 0) << verified.output;
  EXPECT_NE(verified.output.find("FAIL"), std::string::npos) << verified.output;
}

}  // namespace
}  // namespace quillbox::test
