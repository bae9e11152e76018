// The issuer and serial texts, and the name rendering they rest on, over hand-made names.
#include "certs/text_forms.h"
#include "support/bstr_helpers.h"
#include "support/der_name.h"
#include "support/fake_certificate.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

using test::FakeCertificate;
using test::Take;
namespace der = test::der;

constexpr DWORD kX500Reverse = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;

std::string Render(der::Bytes name, DWORD type = kX500Reverse) {
  CERT_NAME_BLOB blob = der::Blob(name);
  const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &blob, type, nullptr, 0);
  EXPECT_GE(size, 1u);
  std::string text(size, '\0');
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, type, text.data(), size), size);
  EXPECT_EQ(text.back(), '\0');
  text.pop_back();
  return text;
}

der::Bytes SignerName() {
  return der::Name({der::Rdn({der::Attribute(der::kCountry, der::Printable("SI"))}),
                    der::Rdn({der::Attribute(der::kOrganization, der::Printable("Example"))}),
                    der::Rdn({der::Attribute(der::kCommonName, der::Printable("Test Signer"))})});
}

TEST(SerialNumberText, ReadsTheStoredBytesFromTheLast) {
  FakeCertificate certificate({}, {0x0A, 0xFF, 0x3C, 0x01});
  EXPECT_EQ(Take(SerialNumberText(certificate.get())), u"013CFF0A");
}

TEST(SerialNumberText, OneByteGivesTwoDigits) {
  FakeCertificate certificate({}, {0x05});
  EXPECT_EQ(Take(SerialNumberText(certificate.get())), u"05");
}

TEST(SerialNumberText, BytesAreUnsigned) {
  FakeCertificate certificate({}, {0x80, 0xFF});
  EXPECT_EQ(Take(SerialNumberText(certificate.get())), u"FF80");
}

TEST(SerialNumberText, LeadingZeroByteIsKept) {
  FakeCertificate certificate({}, {0xAB, 0x00, 0x8F, 0x00});
  EXPECT_EQ(Take(SerialNumberText(certificate.get())), u"008F00AB");
}

TEST(SerialNumberText, NoBytesGiveTheEmptyText) {
  FakeCertificate certificate({}, {});
  EXPECT_EQ(Take(SerialNumberText(certificate.get())), u"");
}

TEST(IssuerNameText, X500FormMostSpecificFirst) {
  FakeCertificate certificate(SignerName(), {1});
  EXPECT_EQ(Take(IssuerNameText(certificate.get())), u"CN=Test Signer, O=Example, C=SI");
}

TEST(IssuerNameText, NonAsciiNameThroughUtf8CodePage) {
  FakeCertificate certificate(der::Name({der::Rdn({der::Attribute(der::kCountry, der::Printable("SI"))}),
                                         der::Rdn({der::Attribute(der::kCommonName, der::Utf8("Čebelar Žan"))})}),
                              {1});
  EXPECT_EQ(Take(IssuerNameText(certificate.get())), u"CN=Čebelar Žan, C=SI");
}

TEST(IssuerNameText, EmptyNameGivesTheEmptyText) {
  FakeCertificate certificate(der::Name({}), {1});
  const auto text = Take(IssuerNameText(certificate.get()));
  ASSERT_TRUE(text.has_value());  // an empty text, not null
  EXPECT_EQ(*text, u"");
}

TEST(IssuerNameText, MalformedNameGivesTheEmptyText) {
  FakeCertificate certificate({0x30, 0x05, 0x31, 0x03}, {1});
  EXPECT_EQ(Take(IssuerNameText(certificate.get())), u"");
  FakeCertificate missing({}, {1});
  EXPECT_EQ(Take(IssuerNameText(missing.get())), u"");
}

TEST(CertNameToStrA, SizeQueryCountsTheTerminator) {
  der::Bytes name = SignerName();
  CERT_NAME_BLOB blob = der::Blob(name);
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, kX500Reverse, nullptr, 0),
            std::string("CN=Test Signer, O=Example, C=SI").size() + 1);
  char unused = 'x';
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, kX500Reverse, &unused, 0),
            std::string("CN=Test Signer, O=Example, C=SI").size() + 1);
  EXPECT_EQ(unused, 'x');
}

TEST(CertNameToStrA, NothingToRenderGivesOne) {
  der::Bytes empty = der::Name({});
  CERT_NAME_BLOB blob = der::Blob(empty);
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, kX500Reverse, nullptr, 0), 1u);
  char text[4] = "abc";
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, kX500Reverse, text, sizeof text), 1u);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, nullptr, kX500Reverse, nullptr, 0), 1u);
}

TEST(CertNameToStrA, ValuesWithSeparatorsAreQuoted) {
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kOrganization, der::Utf8("Example, Inc."))}),
                              der::Rdn({der::Attribute(der::kCommonName, der::Utf8("A \"quoted\" name"))})})),
            "CN=\"A \"\"quoted\"\" name\", O=\"Example, Inc.\"");
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCommonName, der::Utf8(" padded"))})})),
            "CN=\" padded\"");
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCommonName, der::Utf8("a=b;c"))})})), "CN=\"a=b;c\"");
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCommonName, der::Utf8(""))})})), "CN=\"\"");
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCommonName, der::Utf8("plain-name.1"))})})),
            "CN=plain-name.1");
}

TEST(CertNameToStrA, MultiValuedRelativeNameJoinsWithPlus) {
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCountry, der::Printable("SI"))}),
                              der::Rdn({der::Attribute(der::kCommonName, der::Printable("Ana")),
                                        der::Attribute(der::kOrganizationalUnit, der::Printable("Sales"))})})),
            "CN=Ana + OU=Sales, C=SI");
}

TEST(CertNameToStrA, KeysAndOtherAttributes) {
  const der::Bytes unknownOid{0x2A, 0x03, 0x04};  // 1.2.3.4
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kEmail, der::Tlv(0x16, der::Text("a@example.si")))}),
                              der::Rdn({der::Attribute(unknownOid, der::Utf8("x"))}),
                              der::Rdn({der::Attribute(unknownOid, der::Tlv(0x04, {0x01, 0xAB}))})})),
            "OID.1.2.3.4=#040201AB, OID.1.2.3.4=x, E=a@example.si");
}

TEST(CertNameToStrA, BmpStringsAreDecoded) {
  EXPECT_EQ(Render(der::Name({der::Rdn({der::Attribute(der::kCommonName, der::Bmp(u"Šola"))})})), "CN=Šola");
}

TEST(CertNameToStrA, ShortBufferIsTruncatedAndTerminated) {
  der::Bytes name = SignerName();
  CERT_NAME_BLOB blob = der::Blob(name);
  char text[8];
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, kX500Reverse, text, sizeof text), 8u);
  EXPECT_STREQ(text, "CN=Test");
}

TEST(CertNameToStrA, OtherEncodingsRenderNothing) {
  der::Bytes name = SignerName();
  CERT_NAME_BLOB blob = der::Blob(name);
  EXPECT_EQ(CertNameToStrA(0, &blob, kX500Reverse, nullptr, 0), 1u);
}

}  // namespace
}  // namespace quillbox
