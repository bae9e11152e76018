// The personal store's order serves the user: certificates valid now first (the newest first),
// then those not yet valid, then the expired ones, so a subject lookup takes a renewed
// certificate over the expired one it replaces. The certificates come from an openssl CA with
// the validity windows a real user's store collects.
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "support/bstr_helpers.h"
#include "certs/store_lookup_fixture.h"
#include "support/module_lock_audit.h"
#include "support/openssl_ca.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include "support/recorded.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillbox::test {
namespace {

using std::chrono::days;
using Bytes = std::vector<BYTE>;

// One certificate of the store: its nickname, subject CN and validity window in days from now.
struct Planned {
  const char* nickname;
  const char* commonName;
  int notBefore;
  int notAfter;
};

// Imported in this order, which is neither the nickname order nor the expected one.
constexpr Planned kPlanned[] = {
    {"long-expired", "Long Expired", -800, -400},
    {"holder-renewed", "Renewal Holder", -30, 335},
    {"future-later", "Later Future", 40, 400},
    {"tie-2", "Tie Two", -100, 265},
    {"holder-expired", "Renewal Holder", -400, -35},
    {"older-valid", "Older Valid", -200, 165},
    {"future-soon", "Soon Future", 20, 385},
    {"tie-1", "Tie One", -100, 265},
};

// Valid: newest start first, a tie by nickname; not yet valid: soonest first; expired: the most
// recently expired first.
const std::vector<std::string> kExpectedOrder = {"holder-renewed", "tie-1",          "tie-2",      "older-valid",
                                                 "future-soon",    "future-later", "holder-expired", "long-expired"};

struct World {
  std::map<std::string, Bytes> derByNickname;
  std::map<std::string, std::string> serialByNickname;
};
World& TheWorld() {
  static World world;
  return world;
}

Bytes EncodedOf(PCCERT_CONTEXT certificate) {
  return Bytes(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
}

class WindowedStore : public CaIssuedStoreEnvironment {
 protected:
  void Fill(NssDatabase& database) override {
    World& world = TheWorld();
    OpensslCa ca("/C=SI/O=Quillbox Tests/CN=Quillbox Validity CA");
    // The ties share their window to the second: both are issued from the same two texts.
    const std::string tieStart = OpensslTimeFromNow(days(-100));
    const std::string tieEnd = OpensslTimeFromNow(days(265));
    for (const Planned& planned : kPlanned) {
      const bool tie = std::string(planned.nickname).starts_with("tie-");
      const IssuedCertificate issued =
          ca.Issue({std::string("/C=SI/O=Quillbox Tests/CN=") + planned.commonName, "",
                    tie ? tieStart : OpensslTimeFromNow(days(planned.notBefore)),
                    tie ? tieEnd : OpensslTimeFromNow(days(planned.notAfter)), ""});
      ca.ImportInto(database, issued, planned.nickname);
      const std::string der = DerOf(issued);
      world.derByNickname[planned.nickname] = Bytes(der.begin(), der.end());
      world.serialByNickname[planned.nickname] = issued.serialHex;
    }
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WindowedStore);

std::string NicknameOf(const Bytes& der) {
  for (const auto& [nickname, encoded] : TheWorld().derByNickname)
    if (encoded == der) return nickname;
  return "(unknown)";
}

std::vector<std::string> EnumeratedNicknames() {
  const UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  EXPECT_TRUE(store);
  std::vector<std::string> order;
  PCCERT_CONTEXT current = nullptr;
  while (store && (current = CertEnumCertificatesInStore(store.get(), current)) != nullptr)
    order.push_back(NicknameOf(EncodedOf(current)));
  return order;
}

TEST(ValidityOrder, ValidNewestFirstThenNotYetValidThenExpired) {
  EXPECT_EQ(EnumeratedNicknames(), kExpectedOrder);
  // Every store opened enumerates the same way, the remembered listing's included.
  EXPECT_EQ(EnumeratedNicknames(), kExpectedOrder);
}

TEST(ValidityOrder, SubjectSearchTakesTheRenewedCertificate) {
  const UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_STR_W, u"renewal holder", nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(NicknameOf(EncodedOf(found)), "holder-renewed");
  // The expired one is still there, after it.
  found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                     u"renewal holder", found);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(NicknameOf(EncodedOf(found)), "holder-expired");
  CertFreeCertificateContext(found);
}

using ComponentLookup = StoreLookup;

TEST_F(ComponentLookup, BySubjectTakesTheRenewedByIssuerAndSerialTheOneNamed) {
  object.put_CertFindOption(FindBySubject);
  object.put_CertSubject(UniqueBstr::Copy(u"Renewal Holder").get());
  UniqueCertContext found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
  ASSERT_TRUE(found);
  EXPECT_EQ(NicknameOf(EncodedOf(found.get())), "holder-renewed");

  // Issuer and serial still name one certificate exactly, expired or not.
  const std::string serial = TheWorld().serialByNickname.at("holder-expired");
  object.put_CertFindOption(FindByIssuerSerial);
  object.put_CertIssuerName(UniqueBstr::Copy(u"CN=Quillbox Validity CA, O=Quillbox Tests, C=SI").get());
  object.put_CertSerial(UniqueBstr::Copy(std::u16string(serial.begin(), serial.end())).get());
  found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
  ASSERT_TRUE(found) << TheErrorState()->ErrorNo;
  EXPECT_EQ(NicknameOf(EncodedOf(found.get())), "holder-expired");
}

}  // namespace
}  // namespace quillbox::test
