// Signature::CreateSigningKey: the key it builds, its ownership rules, and a failure at every step.
#include "certs/cert_test_helpers.h"
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "signing/signature_library.h"
#include "support/crypto_session.h"
#include "support/sign_document.h"
#include "support/module_lock_audit.h"

#include <xmlsec/base64.h>

#include "signing/signing_key.h"
#include "support/recorded.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace quillbox::test {
namespace {

// The steps of the key build that a test can make fail. Duplicates fail in the platform.
enum class Step { None, CreateX509, AdoptKeyCert, CertAdopt, AdoptCert, CreateKey, SetValue, AdoptData };

// The real library, failing at one chosen step, and keeping account of every data object and key
// it hands out so a test can tell whether anything was left behind.
class FailingLibrary : public XmlSecLibrary {
 public:
  explicit FailingLibrary(Step failAt) : failAt_(failAt) {}

  xmlSecKeyDataPtr KeyDataCreate(xmlSecKeyDataId id) override {
    if (failAt_ == Step::CreateX509) return nullptr;
    return Track(XmlSecLibrary::KeyDataCreate(id));
  }
  int KeyDataX509AdoptKeyCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) override {
    return failAt_ == Step::AdoptKeyCert ? -1 : XmlSecLibrary::KeyDataX509AdoptKeyCert(data, certificate);
  }
  xmlSecKeyDataPtr CertAdopt(PCCERT_CONTEXT certificate, xmlSecKeyDataType type) override {
    if (failAt_ == Step::CertAdopt) return nullptr;
    return Track(XmlSecLibrary::CertAdopt(certificate, type));
  }
  int KeyDataX509AdoptCert(xmlSecKeyDataPtr data, PCCERT_CONTEXT certificate) override {
    return failAt_ == Step::AdoptCert ? -1 : XmlSecLibrary::KeyDataX509AdoptCert(data, certificate);
  }
  xmlSecKeyPtr KeyCreate() override {
    if (failAt_ == Step::CreateKey) return nullptr;
    xmlSecKeyPtr key = XmlSecLibrary::KeyCreate();
    if (key != nullptr) keys_[key];
    return key;
  }
  int KeySetValue(xmlSecKeyPtr key, xmlSecKeyDataPtr value) override {
    if (failAt_ == Step::SetValue) return -1;
    return Move(key, value, XmlSecLibrary::KeySetValue(key, value));
  }
  int KeyAdoptData(xmlSecKeyPtr key, xmlSecKeyDataPtr data) override {
    if (failAt_ == Step::AdoptData) return -1;
    return Move(key, data, XmlSecLibrary::KeyAdoptData(key, data));
  }
  void KeyDataDestroy(xmlSecKeyDataPtr data) override {
    EXPECT_EQ(data_.erase(data), 1u) << "destroyed a data object that was not free-standing";
    XmlSecLibrary::KeyDataDestroy(data);
  }
  void KeyDestroy(xmlSecKeyPtr key) override {
    EXPECT_EQ(keys_.erase(key), 1u);
    XmlSecLibrary::KeyDestroy(key);
  }

  // Free-standing data objects and keys the library handed out and nobody destroyed yet.
  std::size_t Outstanding() const { return data_.size() + keys_.size(); }

 private:
  xmlSecKeyDataPtr Track(xmlSecKeyDataPtr data) {
    if (data != nullptr) data_.insert(data);
    return data;
  }
  int Move(xmlSecKeyPtr key, xmlSecKeyDataPtr data, int result) {
    if (result >= 0) {
      data_.erase(data);
      keys_[key].insert(data);
    }
    return result;
  }

  Step failAt_;
  std::set<xmlSecKeyDataPtr> data_;
  std::map<xmlSecKeyPtr, std::set<xmlSecKeyDataPtr>> keys_;
};

class SigningKey : public ModuleLockAudit {
 protected:
  void SetUp() override {
    ClearErrorState();
    store.reset(CertOpenSystemStoreA(0, "MY"));
    ASSERT_TRUE(store);
    certificate.reset(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                 u"Test Signer", nullptr));
    ASSERT_TRUE(certificate);
  }
  void TearDown() override {
    QbCertFailDuplicateAt(0);
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }
  LONG ErrorNo() const { return TheErrorState()->ErrorNo; }
  std::u16string ErrorStr() const {
    const LockedErrorState state = TheErrorState();
    return state->ErrorStr != nullptr ? std::u16string(state->ErrorStr) : u"";
  }

  CryptoSession session;
  UniqueCertStore store;
  UniqueCertContext certificate;
  HeldSignature held;
  Signature& object = *held;
};

TEST_F(SigningKey, KeyHoldsThePrivateKeyAndTheCertificate) {
  const LONG before = QbCertReferenceCount(certificate.get());
  xmlSecKeyPtr key = Recorded(CreateSigningKey(certificate.get())).release();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(ErrorNo(), 0);
  EXPECT_EQ(QbCertReferenceCount(certificate.get()), before);  // every duplicate went into the key
  EXPECT_TRUE(xmlSecKeyIsValid(key));
  EXPECT_NE(xmlSecKeyGetType(key) & xmlSecKeyDataTypePrivate, 0u);
  EXPECT_EQ(xmlSecKeyGetName(key), nullptr);
  EXPECT_NE(xmlSecKeyGetData(key, ActiveSignatureLibrary().KeyDataX509()), nullptr);
  xmlSecKeyDestroy(key);
}

TEST_F(SigningKey, KeySignsAfterTheCallerReleasedItsCertificate) {
  xmlSecKeyPtr key = Recorded(CreateSigningKey(certificate.get())).release();
  ASSERT_NE(key, nullptr);
  certificate.reset();
  store.reset();
  const SignedDocument signed_ = SignSmallDocument(key);
  EXPECT_EQ(signed_.status, 0);
  // The certificate the key carries is the one it was made from.
  const auto start = signed_.xml.find("<X509Certificate>");
  const auto end = signed_.xml.find("</X509Certificate>");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::string written = signed_.xml.substr(start + 17, end - start - 17);
  std::erase(written, '\n');
  const Bytes der = DerOf(fixture::kSigner);
  xmlChar* expected = xmlSecBase64Encode(der.data(), der.size(), 0);
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(written, reinterpret_cast<const char*>(expected));
  xmlFree(expected);
  xmlSecKeyDestroy(key);
}

TEST_F(SigningKey, CallerCertificateIsUntouchedAfterSuccessAndDestruction) {
  const LONG before = QbCertReferenceCount(certificate.get());
  for (int i = 0; i < 3; ++i) {
    xmlSecKeyPtr key = Recorded(CreateSigningKey(certificate.get())).release();
    ASSERT_NE(key, nullptr);
    xmlSecKeyDestroy(key);
  }
  EXPECT_EQ(QbCertReferenceCount(certificate.get()), before);
}

struct FailureCase {
  const char* name;
  Step step;
  LONG failDuplicate;  // which duplicate fails: 1 = step 2, 2 = step 4, 3 = step 5
  LONG error;
  const char16_t* errorName;
};
// Named by its case: GoogleTest would otherwise print the raw bytes, padding included.
void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class SigningKeyFailure : public SigningKey, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SigningKeyFailure, LeavesNothingBehindAndTheCertificateAsItWas) {
  const FailureCase& c = GetParam();
  FailingLibrary library(c.step);
  ScopedSignatureLibrary use(library);
  const LONG before = QbCertReferenceCount(certificate.get());
  QbCertFailDuplicateAt(c.failDuplicate);
  EXPECT_FALSE(Recorded(CreateSigningKey(certificate.get())));
  QbCertFailDuplicateAt(0);
  EXPECT_EQ(ErrorNo(), c.error);
  EXPECT_EQ(ErrorStr(), c.errorName);
  EXPECT_EQ(library.Outstanding(), 0u);
  EXPECT_EQ(QbCertReferenceCount(certificate.get()), before);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SigningKeyFailure,
    ::testing::Values(FailureCase{"AllocX509Data", Step::CreateX509, 0, 2, u"ERR_ALLOC_X509_DATA"},
                      FailureCase{"FirstDuplicate", Step::None, 1, 1, u"ERR_DUPLICATE_CERT_DATA"},
                      FailureCase{"AdoptKeyCert", Step::AdoptKeyCert, 0, 3, u"ERR_ADOPT_CERT_KEY_TO_X509"},
                      FailureCase{"SecondDuplicate", Step::None, 2, 1, u"ERR_DUPLICATE_CERT_DATA"},
                      FailureCase{"CertAdopt", Step::CertAdopt, 0, 6, u"ERR_ADOPT_CERT_KEY"},
                      FailureCase{"ThirdDuplicate", Step::None, 3, 1, u"ERR_DUPLICATE_CERT_DATA"},
                      FailureCase{"AdoptCert", Step::AdoptCert, 0, 4, u"ERR_ADOPT_CERT_DATA_TO_X509"},
                      FailureCase{"AllocKey", Step::CreateKey, 0, 5, u"ERR_ALLOC_KEY"},
                      FailureCase{"SetValue", Step::SetValue, 0, 7, u"ERR_SETTING_KEY_DATA"},
                      FailureCase{"AdoptData", Step::AdoptData, 0, 8, u"ERR_SETTING_X509_DATA"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(SigningKey, SuccessThroughTheAccountingLibraryLeavesOnlyTheKey) {
  FailingLibrary library(Step::None);
  ScopedSignatureLibrary use(library);
  xmlSecKeyPtr key = Recorded(CreateSigningKey(certificate.get())).release();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(library.Outstanding(), 1u);  // the key, holding both data objects
  library.KeyDestroy(key);
  EXPECT_EQ(library.Outstanding(), 0u);
}

TEST_F(SigningKey, NullCertificateFailsAtTheFirstDuplicate) {
  EXPECT_FALSE(Recorded(CreateSigningKey(nullptr)));
  EXPECT_EQ(ErrorNo(), 1);
}

TEST_F(SigningKey, BackEndRefusesAContextThatIsNotFromTheStore) {
  // A certificate context made by hand has no NSS certificate behind it.
  CERT_INFO info{};
  BYTE junk[4] = {0x30, 0x02, 0x05, 0x00};
  CERT_CONTEXT handMade{X509_ASN_ENCODING, junk, sizeof junk, &info, nullptr};
  XmlSecLibrary library;
  EXPECT_EQ(library.CertAdopt(&handMade, xmlSecKeyDataTypePublic | xmlSecKeyDataTypePrivate), nullptr);
  xmlSecKeyDataPtr x509 = library.KeyDataCreate(library.KeyDataX509());
  ASSERT_NE(x509, nullptr);
  EXPECT_LT(library.KeyDataX509AdoptKeyCert(x509, &handMade), 0);
  EXPECT_LT(library.KeyDataX509AdoptCert(x509, &handMade), 0);
  library.KeyDataDestroy(x509);
}

}  // namespace
}  // namespace quillbox::test
