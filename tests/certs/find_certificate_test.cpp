// Signature::FindCertificate over the standard store.
#include "cert_test_helpers.h"
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "store_lookup_fixture.h"
#include "support/module_lock_audit.h"

#include "support/recorded.h"

#include <gtest/gtest.h>

namespace quillbox::test {
namespace {

class CertificateLookup : public StoreLookup {
 protected:
  void ByIssuerSerial(const std::u16string& issuer, const std::u16string& serial) {
    object.put_CertFindOption(FindByIssuerSerial);
    object.put_CertIssuerName(UniqueBstr::Copy(issuer).get());
    object.put_CertSerial(UniqueBstr::Copy(serial).get());
  }
  void BySubject(const std::u16string& subject) {
    object.put_CertFindOption(FindBySubject);
    object.put_CertSubject(UniqueBstr::Copy(subject).get());
  }
  UniqueCertContext Find() { return Recorded(FindCertificate(store.get(), object.certificateQuery())); }
  LONG ErrorNo() const { return TheErrorState()->ErrorNo; }
  std::u16string ErrorStr() const {
    BSTR text = TheErrorState()->ErrorStr;
    return text != nullptr ? std::u16string(text) : std::u16string();
  }
};

TEST_F(CertificateLookup, ByIssuerAndSerial) {
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSigner));
  EXPECT_EQ(ErrorNo(), 0);
}

TEST_F(CertificateLookup, EveryCertificateWithAKeyIsFoundByItsTexts) {
  for (const FixtureCertificate& c : fixture::kWithKeys) {
    if (std::string(c.nickname).starts_with("twin-leaf")) continue;  // their texts are shared
    ByIssuerSerial(test::FromUtf8(c.issuerText), test::FromUtf8(c.serialText));
    UniqueCertContext found = Find();
    ASSERT_TRUE(found) << c.nickname;
    EXPECT_EQ(EncodedOf(found.get()), DerOf(c)) << c.nickname;
  }
}

TEST_F(CertificateLookup, LowerCaseSerialMatchesBecauseTheSetterUpperCases) {
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), u"013cff0a");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSigner));
}

TEST_F(CertificateLookup, LeadingZeroByteMustBeGiven) {
  ByIssuerSerial(test::FromUtf8(fixture::kSecond.issuerText), u"8F00AB");
  EXPECT_FALSE(Find());
  EXPECT_EQ(ErrorNo(), 31);
  EXPECT_EQ(ErrorStr(), u"ERR_CERT_NOT_FOUND");
  ByIssuerSerial(test::FromUtf8(fixture::kSecond.issuerText), u"008F00AB");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSecond));
}

TEST_F(CertificateLookup, IssuerComparisonIsExact) {
  const std::u16string serial = test::FromUtf8(fixture::kSigner.serialText);
  for (const std::u16string issuer : {u"cn=Quillbox Test CA, O=Example, C=SI", u"CN=Quillbox Test CA,O=Example,C=SI",
                                      u"CN=Quillbox Test CA,  O=Example, C=SI", u"CN=Quillbox Test CA, O=Example"}) {
    ClearErrorState();
    ByIssuerSerial(issuer, serial);
    EXPECT_FALSE(Find());
    EXPECT_EQ(ErrorNo(), 31);
  }
}

TEST_F(CertificateLookup, SerialWithSeparatorsMatchesNothing) {
  for (const std::u16string serial : {u"01 3C FF 0A", u"01:3C:FF:0A", u"13CFF0A"}) {
    ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), serial);
    EXPECT_FALSE(Find());
    EXPECT_EQ(ErrorNo(), 31);
  }
}

TEST_F(CertificateLookup, NonAsciiIssuer) {
  ByIssuerSerial(test::FromUtf8(fixture::kUnicode.issuerText), u"05");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kUnicode));
}

TEST_F(CertificateLookup, EqualTextsTakeTheFirstInEnumerationOrder) {
  const Bytes leafA = DerOf(fixture::kTwinLeafA);
  const Bytes leafB = DerOf(fixture::kTwinLeafB);
  Bytes first;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr) {
    if (EncodedOf(current) == leafA || EncodedOf(current) == leafB) {
      first = EncodedOf(current);
      CertFreeCertificateContext(current);
      break;
    }
  }
  ASSERT_FALSE(first.empty());
  ByIssuerSerial(u"CN=Twin CA", u"42");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), first);
}

TEST_F(CertificateLookup, MatchHoldsOnlyTheResult) {
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(QbCertReferenceCount(found.get()), 2);  // the store's and the caller's
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr)
    EXPECT_EQ(QbCertReferenceCount(current), current == found.get() ? 3 : 2);
}

TEST_F(CertificateLookup, UnsetPropertiesMatchNothing) {
  object.put_CertFindOption(FindByIssuerSerial);
  EXPECT_FALSE(Find());
  EXPECT_EQ(ErrorNo(), 31);
}

TEST_F(CertificateLookup, StoreThatDidNotOpenFindsNothing) {
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
  EXPECT_FALSE(Recorded(FindCertificate(nullptr, object.certificateQuery())));
  EXPECT_EQ(ErrorNo(), 31);
  BySubject(u"Test Signer");
  EXPECT_FALSE(Recorded(FindCertificate(nullptr, object.certificateQuery())));
  EXPECT_EQ(ErrorNo(), 31);
}

TEST_F(CertificateLookup, BySubjectPartAnywhereIgnoringCase) {
  BySubject(u"tEST sIGNER");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSigner));
  BySubject(u"ŠTVO ČEBELAR");  // inside "Društvo čebelarjev"
  found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kUnicode));
}

TEST_F(CertificateLookup, BySubjectTakesTheFirstTheSearchYields) {
  BySubject(u"Signer");
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSecond));  // newer than "signer", or as new and first by nickname
}

TEST_F(CertificateLookup, BySubjectNotFound) {
  BySubject(u"Public Only");  // in the database, but without its private key
  EXPECT_FALSE(Find());
  EXPECT_EQ(ErrorNo(), 31);
  EXPECT_EQ(ErrorStr(), u"ERR_CERT_NOT_FOUND");
}

TEST_F(CertificateLookup, UnknownOptionsLookNothingUpAndShowNoDialog) {
  FakeDialog dialog("choose", "Test Signer");
  for (const SHORT option : {SHORT{3}, SHORT{-1}, SHORT{32767}}) {
    ClearErrorState();
    ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
    object.put_CertSubject(UniqueBstr::Copy(u"Test Signer").get());
    object.put_CertFindOption(option);
    EXPECT_FALSE(Find());
    EXPECT_EQ(ErrorNo(), 31) << option;
  }
  EXPECT_EQ(dialog.last().calls, 0);
}

TEST_F(CertificateLookup, PickerChoiceIsTheResult) {
  FakeDialog dialog("choose", "Second Signer");
  object.put_CertFindOption(FindByPicker);
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSecond));
  EXPECT_EQ(QbCertReferenceCount(found.get()), 2);
  EXPECT_EQ(ErrorNo(), 0);
  EXPECT_EQ(dialog.last().calls, 1);
}

TEST_F(CertificateLookup, CancelledPickerIsNoCertSelectedNotNotFound) {
  for (const char* mode : {"cancel", "none", "noexport"}) {
    ClearErrorState();
    FakeDialog dialog(mode);
    object.put_CertFindOption(FindByPicker);
    EXPECT_FALSE(Find());
    EXPECT_EQ(ErrorNo(), 40) << mode;
    EXPECT_EQ(ErrorStr(), u"ERR_NO_CERT_SELECTED") << mode;
  }
}

TEST_F(CertificateLookup, LookupNeverClearsAnEarlierError) {
  SetError(Error::SigningDoc);
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
  EXPECT_TRUE(Find());
  EXPECT_EQ(ErrorNo(), 33);
  EXPECT_EQ(ErrorStr(), u"ERR_SIGNING_DOC");
}

TEST_F(CertificateLookup, FoundCertificateOutlivesTheStore) {
  ByIssuerSerial(test::FromUtf8(fixture::kSigner.issuerText), test::FromUtf8(fixture::kSigner.serialText));
  UniqueCertContext found = Find();
  ASSERT_TRUE(found);
  store.reset();
  EXPECT_EQ(QbCertReferenceCount(found.get()), 1);
  EXPECT_EQ(EncodedOf(found.get()), DerOf(fixture::kSigner));
}

}  // namespace
}  // namespace quillbox::test
