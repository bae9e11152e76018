// The personal store on NSS: what "MY" holds, its order, references, subject search and names.
#include "support/nss_store.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace quillbox::test {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new StandardStoreEnvironment);

using Bytes = std::vector<BYTE>;

Bytes DerOf(const FixtureCertificate& certificate) {
  TempDir dir;
  StandardStoreEnvironment::Store().ExportDer(certificate.nickname, dir / "cert.der");
  const std::string der = ReadFile(dir / "cert.der");
  return Bytes(der.begin(), der.end());
}

Bytes EncodedOf(PCCERT_CONTEXT certificate) {
  return Bytes(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
}

std::string NameText(CERT_NAME_BLOB& name, DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG) {
  const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &name, type, nullptr, 0);
  std::string text(size, '\0');
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &name, type, text.data(), size), size);
  text.resize(size - 1);
  return text;
}

std::vector<Bytes> Enumerate(HCERTSTORE store) {
  std::vector<Bytes> all;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) all.push_back(EncodedOf(current));
  return all;
}

PCCERT_CONTEXT FindSubject(HCERTSTORE store, const std::u16string& text, PCCERT_CONTEXT previous = nullptr) {
  return CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                    text.c_str(), previous);
}

class PersonalStore : public ::testing::Test {
 protected:
  void SetUp() override {
    store = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(store, nullptr);
  }
  void TearDown() override {
    if (store != nullptr) {
      EXPECT_TRUE(CertCloseStore(store, 0));
    }
  }
  HCERTSTORE store = nullptr;
};

TEST_F(PersonalStore, HoldsExactlyTheCertificatesWithAPrivateKey) {
  std::vector<Bytes> expected;
  for (const FixtureCertificate& c : fixture::kWithKeys) expected.push_back(DerOf(c));
  std::vector<Bytes> actual = Enumerate(store);
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual, expected);
  const Bytes publicOnly = DerOf(fixture::kPublicOnly);
  EXPECT_EQ(std::count(actual.begin(), actual.end(), publicOnly), 0);
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// Every certificate of the standard store is valid now, so the newest validity start comes first
// and certificates made within the same second go by nickname.
TEST_F(PersonalStore, EnumeratesNewestFirstThenByNicknameEveryTime) {
  const std::vector<Bytes> first = Enumerate(store);
  HCERTSTORE again = CertOpenSystemStoreA(0, "my");  // store names ignore letter case
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Enumerate(again), first);
  CertCloseStore(again, 0);

  std::map<Bytes, ULONGLONG> notBefore;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr)
    notBefore[EncodedOf(current)] = Ticks(current->pCertInfo->NotBefore);
  std::vector<std::tuple<ULONGLONG, std::string, Bytes>> expected;
  for (const FixtureCertificate& c : fixture::kWithKeys) {
    const Bytes der = DerOf(c);
    expected.emplace_back(~notBefore[der], c.nickname, der);  // complemented: the newest first
  }
  std::sort(expected.begin(), expected.end());
  std::vector<Bytes> sorted;
  sorted.reserve(expected.size());
  for (const auto& [newestFirst, nickname, der] : expected) sorted.push_back(der);
  EXPECT_EQ(first, sorted);
}

TEST_F(PersonalStore, EnumerationReleasesThePreviousCertificate) {
  PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(QbCertReferenceCount(first), 2);  // the store's and ours
  PCCERT_CONTEXT kept = CertDuplicateCertificateContext(first);
  EXPECT_EQ(kept, first);
  EXPECT_EQ(QbCertReferenceCount(first), 3);
  PCCERT_CONTEXT second = CertEnumCertificatesInStore(store, first);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(QbCertReferenceCount(kept), 2);
  EXPECT_TRUE(CertFreeCertificateContext(kept));
  EXPECT_TRUE(CertFreeCertificateContext(second));
}

TEST_F(PersonalStore, EnumerationEndsWithNullAndReleasesTheLast) {
  PCCERT_CONTEXT current = CertEnumCertificatesInStore(store, nullptr);
  PCCERT_CONTEXT last = nullptr;
  while (current != nullptr) {
    if (last != nullptr) CertFreeCertificateContext(last);
    last = CertDuplicateCertificateContext(current);
    current = CertEnumCertificatesInStore(store, current);
  }
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(QbCertReferenceCount(last), 2);  // the store's and our duplicate: the enumeration let go
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  CertFreeCertificateContext(last);
}

TEST_F(PersonalStore, SubjectSearchIgnoresCaseAndFindsTheTextAnywhere) {
  PCCERT_CONTEXT found = FindSubject(store, u"tEST sIGNER");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), DerOf(fixture::kSigner));
  CertFreeCertificateContext(found);

  // The values read most specific first, joined by ", ".
  found = FindSubject(store, u"signer, example, si");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), DerOf(fixture::kSigner));
  CertFreeCertificateContext(found);

  found = FindSubject(store, u"SIGNING");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), DerOf(fixture::kSecond));
  CertFreeCertificateContext(found);
}

TEST_F(PersonalStore, SubjectSearchFoldsCaseBeyondAscii) {
  PCCERT_CONTEXT found = FindSubject(store, u"čEBELAR žAN ŠUŠTAR");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), DerOf(fixture::kUnicode));
  CertFreeCertificateContext(found);
}

TEST_F(PersonalStore, SubjectSearchTakesTheFirstInEnumerationOrderAndContinuesAfterPrevious) {
  const Bytes second = DerOf(fixture::kSecond);
  const Bytes signer = DerOf(fixture::kSigner);
  PCCERT_CONTEXT found = FindSubject(store, u"Signer");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), second);  // made after "signer", or in the same second with a nickname before it
  PCCERT_CONTEXT kept = CertDuplicateCertificateContext(found);
  found = FindSubject(store, u"Signer", found);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(EncodedOf(found), signer);
  EXPECT_EQ(QbCertReferenceCount(kept), 2);  // the search released its previous result
  found = FindSubject(store, u"Signer", found);
  EXPECT_EQ(found, nullptr);
  CertFreeCertificateContext(kept);
}

TEST_F(PersonalStore, CertificateWithoutPrivateKeyIsNotFound) {
  SetLastError(0);
  EXPECT_EQ(FindSubject(store, u"Public Only"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

TEST_F(PersonalStore, CertificatesOutliveTheStoreUntilReleased) {
  PCCERT_CONTEXT found = FindSubject(store, u"Test Signer");
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(CertCloseStore(store, 0));
  store = nullptr;
  EXPECT_EQ(QbCertReferenceCount(found), 1);
  EXPECT_EQ(NameText(found->pCertInfo->Issuer), fixture::kSigner.issuerText);
  PCCERT_CONTEXT copy = CertDuplicateCertificateContext(found);
  EXPECT_EQ(QbCertReferenceCount(found), 2);
  EXPECT_TRUE(CertFreeCertificateContext(copy));
  EXPECT_EQ(EncodedOf(found), DerOf(fixture::kSigner));
  EXPECT_TRUE(CertFreeCertificateContext(found));
}

TEST_F(PersonalStore, ContextHasTheWindowsFields) {
  PCCERT_CONTEXT signer = FindSubject(store, u"Test Signer");
  PCCERT_CONTEXT ca = FindSubject(store, u"Quillbox Test CA");
  ASSERT_NE(signer, nullptr);
  ASSERT_NE(ca, nullptr);
  EXPECT_EQ(signer->dwCertEncodingType, static_cast<DWORD>(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING));
  EXPECT_EQ(signer->hCertStore, store);
  const CERT_INFO& info = *signer->pCertInfo;
  EXPECT_EQ(info.dwVersion, 2u);  // X.509 v3
  ASSERT_EQ(info.SerialNumber.cbData, 4u);
  EXPECT_EQ(Bytes(info.SerialNumber.pbData, info.SerialNumber.pbData + 4), (Bytes{0x0A, 0xFF, 0x3C, 0x01}));
  const CERT_NAME_BLOB& caSubject = ca->pCertInfo->Subject;
  EXPECT_EQ(Bytes(info.Issuer.pbData, info.Issuer.pbData + info.Issuer.cbData),
            Bytes(caSubject.pbData, caSubject.pbData + caSubject.cbData));
  const auto ticks = [](FILETIME t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  EXPECT_LT(ticks(info.NotBefore), ticks(info.NotAfter));
  EXPECT_GT(ticks(info.NotBefore), 130000000000000000ull);  // after 2012, in 100 ns steps from 1601
  EXPECT_STREQ(info.SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.113549.1.1.1");
  EXPECT_GT(info.SubjectPublicKeyInfo.PublicKey.cbData, 256u);
  EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");  // SHA-256 with RSA
  CertFreeCertificateContext(signer);
  CertFreeCertificateContext(ca);
}

TEST_F(PersonalStore, LeadingZeroSerialByteIsKept) {
  PCCERT_CONTEXT second = FindSubject(store, u"Second Signer");
  ASSERT_NE(second, nullptr);
  const CRYPT_INTEGER_BLOB& serial = second->pCertInfo->SerialNumber;
  EXPECT_EQ(Bytes(serial.pbData, serial.pbData + serial.cbData), (Bytes{0xAB, 0x00, 0x8F, 0x00}));
  CertFreeCertificateContext(second);
}

TEST_F(PersonalStore, IssuerNamesRenderInX500FormMostSpecificFirst) {
  for (const FixtureCertificate& c : fixture::kWithKeys) {
    std::u16string wanted;
    PCCERT_CONTEXT current = nullptr;
    const Bytes der = DerOf(c);
    while ((current = CertEnumCertificatesInStore(store, current)) != nullptr)
      if (EncodedOf(current) == der) break;
    ASSERT_NE(current, nullptr) << c.nickname;
    EXPECT_EQ(NameText(current->pCertInfo->Issuer), c.issuerText) << c.nickname;
    CertFreeCertificateContext(current);
  }
}

TEST_F(PersonalStore, NameSizeQueryAndShortBuffer) {
  PCCERT_CONTEXT signer = FindSubject(store, u"Test Signer");
  ASSERT_NE(signer, nullptr);
  CERT_NAME_BLOB& issuer = signer->pCertInfo->Issuer;
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const std::string expected = fixture::kSigner.issuerText;
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &issuer, type, nullptr, 0), expected.size() + 1);
  char shortBuffer[6];
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &issuer, type, shortBuffer, sizeof shortBuffer), 6u);
  EXPECT_STREQ(shortBuffer, "CN=Qu");
  // Without the reverse flag the names come in their encoded order.
  EXPECT_EQ(NameText(issuer, CERT_X500_NAME_STR), "C=SI, O=Example, CN=Quillbox Test CA");
  EXPECT_EQ(NameText(issuer, CERT_SIMPLE_NAME_STR | CERT_NAME_STR_REVERSE_FLAG), "Quillbox Test CA, Example, SI");
  EXPECT_EQ(NameText(issuer, CERT_OID_NAME_STR | CERT_NAME_STR_REVERSE_FLAG),
            "2.5.4.3=Quillbox Test CA, 2.5.4.10=Example, 2.5.4.6=SI");
  CertFreeCertificateContext(signer);
}

TEST(PersonalStoreNames, OnlyThePersonalStoreExists) {
  SetLastError(0);
  EXPECT_EQ(CertOpenSystemStoreA(0, "ROOT"), nullptr);
  EXPECT_EQ(CertOpenSystemStoreA(0, "CA"), nullptr);
  EXPECT_EQ(CertOpenSystemStoreA(0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(PersonalStoreHandles, NullArgumentsAreHandled) {
  EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);
  EXPECT_TRUE(CertFreeCertificateContext(nullptr));
  EXPECT_EQ(CertEnumCertificatesInStore(nullptr, nullptr), nullptr);
  EXPECT_FALSE(CertCloseStore(nullptr, 0));
  EXPECT_EQ(QbCertReferenceCount(nullptr), 0);
}

// Switching databases needs NSS closed, which the environment's own session allows as long as
// nothing is held.
class SwitchedDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QbCryptCloseSession());
    saved = std::getenv("QUILLBOX_NSS_DB");
  }
  void TearDown() override {
    EXPECT_TRUE(QbCryptCloseSession());
    setenv("QUILLBOX_NSS_DB", saved.c_str(), 1);
  }
  std::string saved;
};

TEST_F(SwitchedDatabase, NoDatabaseGivesNoStoreAndCreatesNothing) {
  TempDir empty;
  setenv("QUILLBOX_NSS_DB", ("sql:" + empty.path()).c_str(), 1);
  EXPECT_EQ(CertOpenSystemStoreA(0, "MY"), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(empty.path()));

  // The crypto back end may still start without a database; the store stays unavailable.
  EXPECT_FALSE(QbCryptOpenSession(TRUE));
  EXPECT_TRUE(QbCryptOpenSession(FALSE));
  EXPECT_EQ(CertOpenSystemStoreA(0, "MY"), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
}

TEST_F(SwitchedDatabase, UnreadableLocationGivesNoStore) {
  setenv("QUILLBOX_NSS_DB", "sql:/nonexistent/quillbox/nssdb", 1);
  EXPECT_EQ(CertOpenSystemStoreA(0, "MY"), nullptr);
}

TEST_F(SwitchedDatabase, EmptyDatabaseGivesAnEmptyStore) {
  NssDatabase empty = NssDatabase::Create();
  setenv("QUILLBOX_NSS_DB", empty.location().c_str(), 1);
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
  EXPECT_EQ(FindSubject(store, u""), nullptr);
  CertCloseStore(store, 0);
}

TEST_F(SwitchedDatabase, ReopensTheConfiguredDatabaseAfterClosing) {
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(Enumerate(store).size(), std::size(fixture::kWithKeys));
  CertCloseStore(store, 0);
}

}  // namespace
}  // namespace quillbox::test
