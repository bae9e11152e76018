// What the picker makes of a certificate, checked on the rows directly: names, validity at a
// given moment, key usage, where the key is, which row is suggested, and the English texts.
#include "dialogs/fake_store.h"
#include "picker_rows.h"
#include "picker_texts.h"
#include "name_parts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillbox::test {
namespace {

using qb::cryptdlg::CertificateRow;
using qb::cryptdlg::KeyPlace;
using qb::cryptdlg::PreferredRow;
using qb::cryptdlg::RowFor;
using qb::cryptdlg::Validity;

FILETIME Plus(FILETIME time, std::int64_t ticks) {
  const std::uint64_t value = ((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) + ticks;
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

FakeCertificateDescription Description(std::string subject, std::vector<BYTE> keyUsage = {}, std::string token = "Soft") {
  return {std::move(subject), "CN=Test CA, O=Quillbox Test, C=SI", {0x01}, FileTimeOf(2024, 1, 1),
          FileTimeOf(2025, 1, 1, 12), std::move(keyUsage), std::move(token)};
}

class PickerRows : public ::testing::Test {
 protected:
  void SetUp() override {
    // The texts checked here are the English ones, whatever the machine's language.
    setenv("LC_ALL", "C", 1);
    unsetenv("LANGUAGE");
  }
  CertificateRow Row(const FakeCertificateDescription& description, FILETIME now = FileTimeOf(2024, 6, 1)) {
    FakeStore store({description});
    return RowFor(store.At(0), now);
  }
};

TEST_F(PickerRows, HolderAndIssuerAreTheirCommonNamesOrOrganisations) {
  const CertificateRow row = Row(Description("CN=Ana Novak, OU=Sales, O=Quillbox Test, C=SI"));
  EXPECT_EQ(row.holder, "Ana Novak");
  EXPECT_EQ(row.issuerName, "Test CA");
  EXPECT_EQ(row.subject, "CN=Ana Novak, OU=Sales, O=Quillbox Test, C=SI");
  EXPECT_EQ(row.serial, "01");

  FakeCertificateDescription noCommonName = Description("O=\"Novak, d.o.o.\", C=SI");
  noCommonName.issuer = "O=Other CA, C=SI";
  const CertificateRow organisation = Row(noCommonName);
  EXPECT_EQ(organisation.holder, "Novak, d.o.o.");
  EXPECT_EQ(organisation.issuerName, "Other CA");

  FakeCertificateDescription bare = Description("C=SI");
  bare.issuer = "C=SI";
  EXPECT_EQ(Row(bare).holder, "C=SI") << "a name without a person or organisation is shown whole";
}

TEST_F(PickerRows, NamePartsUnquoteAndSplitOnlyOutsideQuotes) {
  using qb::cryptdlg::FirstAttribute;
  using qb::cryptdlg::NameAttributes;
  const auto parts = NameAttributes("CN=\"Kralj, \"\"Bojan\"\" + co\", OU=A + OU=B, E=b@example.si");
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0], std::make_pair(std::string("CN"), std::string("Kralj, \"Bojan\" + co")));
  EXPECT_EQ(parts[1], std::make_pair(std::string("OU"), std::string("A")));
  EXPECT_EQ(parts[2], std::make_pair(std::string("OU"), std::string("B")));
  EXPECT_EQ(FirstAttribute("cn=x, O=Y", {"CN"}), "x");
  EXPECT_EQ(FirstAttribute("CN=, O=Y", {"CN", "O"}), "Y") << "an empty value does not count";
  EXPECT_EQ(FirstAttribute("", {"CN"}), "");
}

TEST_F(PickerRows, ValidityBoundsAreInclusive) {
  const FakeCertificateDescription description = Description("CN=A");
  EXPECT_EQ(Row(description, description.notBefore).validity, Validity::kValid);
  EXPECT_EQ(Row(description, description.notAfter).validity, Validity::kValid);
  EXPECT_EQ(Row(description, Plus(description.notBefore, -1)).validity, Validity::kNotYetValid);
  EXPECT_EQ(Row(description, Plus(description.notAfter, 1)).validity, Validity::kExpired);
}

TEST_F(PickerRows, KeyUsageAllowsSigningWithDigitalSignatureOrNonRepudiation) {
  EXPECT_TRUE(Row(Description("CN=A")).signingAllowed) << "no keyUsage: any use";
  EXPECT_TRUE(Row(Description("CN=A", KeyUsageValue(CERT_DIGITAL_SIGNATURE_KEY_USAGE))).signingAllowed);
  EXPECT_TRUE(Row(Description("CN=A", KeyUsageValue(CERT_NON_REPUDIATION_KEY_USAGE))).signingAllowed);
  EXPECT_FALSE(Row(Description("CN=A", KeyUsageValue(CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE)))
                   .signingAllowed);
  EXPECT_FALSE(Row(Description("CN=A", KeyUsageValue(CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE))).signingAllowed);
  // decipherOnly is the ninth bit: a second byte, seven bits unused.
  EXPECT_FALSE(Row(Description("CN=A", {0x03, 0x03, 0x07, CERT_KEY_AGREEMENT_KEY_USAGE, 0x80})).signingAllowed);
  EXPECT_TRUE(Row(Description("CN=A", {0x04, 0x02, 0x00, 0x00})).signingAllowed) << "unreadable: not refused";
}

TEST(IntendedKeyUsage, ReadsTheBitsAndTellsAbsentFromMalformed) {
  FakeCertificateDescription description{"CN=A", "CN=B", {0x01}, {}, {}, {0x03, 0x03, 0x07, 0x86, 0x80}, ""};
  FakeStore store({description, FakeCertificateDescription{"CN=A", "CN=B", {0x02}, {}, {}, {}, ""},
                   FakeCertificateDescription{"CN=A", "CN=B", {0x03}, {}, {}, {0x03, 0x05, 0x00, 0x80}, ""}});
  BYTE usage[3] = {0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, store.At(0)->pCertInfo, usage, sizeof usage));
  EXPECT_EQ(usage[0], 0x86);
  EXPECT_EQ(usage[1], 0x80);
  EXPECT_EQ(usage[2], 0x00) << "the rest is zero-filled";
  SetLastError(1);
  EXPECT_FALSE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, store.At(1)->pCertInfo, usage, sizeof usage));
  EXPECT_EQ(GetLastError(), 0u) << "no extension";
  EXPECT_FALSE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, store.At(2)->pCertInfo, usage, sizeof usage));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)) << "a length that overruns the value";
}

TEST_F(PickerRows, KeyPlaceAndTokenComeFromTheStore) {
  FakeCertificateDescription card = Description("CN=A", {}, "Ana's card");
  card.keyOnDevice = true;
  const CertificateRow onCard = Row(card);
  EXPECT_EQ(onCard.keyPlace, KeyPlace::kDevice);
  EXPECT_EQ(onCard.tokenName, "Ana's card");
  EXPECT_EQ(Row(Description("CN=A", {}, "NSS Certificate DB")).keyPlace, KeyPlace::kSoftware);
  EXPECT_EQ(Row(Description("CN=A", {}, "")).keyPlace, KeyPlace::kNone);
}

TEST_F(PickerRows, SuggestedRowIsTheFirstUsableForSigningNow) {
  const auto row = [](Validity validity, bool signing, KeyPlace key) {
    CertificateRow r;
    r.validity = validity;
    r.signingAllowed = signing;
    r.keyPlace = key;
    return r;
  };
  const auto expired = row(Validity::kExpired, true, KeyPlace::kSoftware);
  const auto early = row(Validity::kNotYetValid, true, KeyPlace::kSoftware);
  const auto notForSigning = row(Validity::kValid, false, KeyPlace::kSoftware);
  const auto withoutKey = row(Validity::kValid, true, KeyPlace::kNone);
  const auto good = row(Validity::kValid, true, KeyPlace::kDevice);
  EXPECT_EQ(PreferredRow({expired, early, notForSigning, withoutKey, good, good}), 4u);
  EXPECT_EQ(PreferredRow({expired, notForSigning, withoutKey}), 2u);
  EXPECT_EQ(PreferredRow({expired, early, notForSigning}), 2u);
  EXPECT_EQ(PreferredRow({expired, early}), 0u) << "nothing valid: the first row";
  EXPECT_EQ(PreferredRow({}), 0u);
}

TEST_F(PickerRows, EnglishTextsSayValidityMarksAndKey) {
  using namespace qb::cryptdlg;
  FakeCertificateDescription card = Description("CN=A", KeyUsageValue(CERT_KEY_ENCIPHERMENT_KEY_USAGE), "Card 1");
  card.keyOnDevice = true;
  const CertificateRow valid = Row(card);
  EXPECT_EQ(ValidityText(valid), "valid until 2025-01-01");
  EXPECT_EQ(IssuerText(valid), "issued by Test CA");
  EXPECT_EQ(KeyText(valid), "key on card \"Card 1\"");
  EXPECT_EQ(Marks(valid), std::vector<std::string>{"Not for signing"});

  const CertificateRow expired = Row(Description("CN=A"), FileTimeOf(2025, 1, 2));
  EXPECT_EQ(ValidityText(expired), "expired on 2025-01-01");
  EXPECT_EQ(KeyText(expired), "key in \"Soft\"");
  EXPECT_EQ(Marks(expired), std::vector<std::string>{"Expired"});

  const CertificateRow early = Row(Description("CN=A", {}, ""), FileTimeOf(2023, 1, 2));
  EXPECT_EQ(ValidityText(early), "not valid before 2024-01-01");
  EXPECT_EQ(KeyText(early), "no private key");
  EXPECT_EQ(Marks(early), std::vector<std::string>{"Not yet valid"});

  const auto details = Details(valid);
  ASSERT_EQ(details.size(), 7u);
  EXPECT_EQ(details[0], std::make_pair(std::string("Issued to"), std::string("CN=A")));
  EXPECT_EQ(details[1].second, "CN=Test CA, O=Quillbox Test, C=SI");
  EXPECT_EQ(details[2].second, "01");
  EXPECT_EQ(details[4].second, "2025-01-01 12:00:00 UTC");
}

}  // namespace
}  // namespace quillbox::test
