// The issuer text passes through the ANSI code page: under a single-byte locale, characters the
// code page holds survive and others read back as '?', so names that differ only in those
// characters give the same text.
#include "certs/text_forms.h"
#include "support/bstr_helpers.h"
#include "support/der_name.h"
#include "support/fake_certificate.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillbox {
namespace {

using test::FakeCertificate;
using test::Take;
namespace der = test::der;

der::Bytes CommonName(const std::string& utf8) {
  return der::Name({der::Rdn({der::Attribute(der::kCountry, der::Printable("SI"))}),
                    der::Rdn({der::Attribute(der::kCommonName, der::Utf8(utf8))})});
}

TEST(IssuerNameTextSingleByte, CharactersOfTheCodePageSurvive) {
  FakeCertificate certificate(CommonName("Čebelar Žan Šuštar"), {1});
  EXPECT_EQ(Take(IssuerNameText(certificate.get())), u"CN=Čebelar Žan Šuštar, C=SI");
}

TEST(IssuerNameTextSingleByte, OtherCharactersBecomeQuestionMarks) {
  FakeCertificate cyrillic(CommonName("Жан"), {1});
  FakeCertificate greek(CommonName("Λαν"), {1});
  EXPECT_EQ(Take(IssuerNameText(cyrillic.get())), u"CN=???, C=SI");
  EXPECT_EQ(Take(IssuerNameText(greek.get())), Take(IssuerNameText(cyrillic.get())));
}

}  // namespace
}  // namespace quillbox

int main(int argc, char** argv) {
  setenv("LC_ALL", "sl_SI.ISO-8859-2", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
