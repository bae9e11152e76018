#include "signing/x509_data_completion.h"

#include "signing/xml_tree_helpers.h"

#include <xmlsec/xmlsec.h>

#include <xmlsec/templates.h>

#include <gtest/gtest.h>

#include <vector>

namespace quillbox {
namespace {

std::string Decimal(std::vector<BYTE> leastSignificantFirst) {
  CRYPT_INTEGER_BLOB blob{static_cast<DWORD>(leastSignificantFirst.size()), leastSignificantFirst.data()};
  return SerialNumberDecimal(blob);
}

TEST(SerialNumberDecimal, ReadsTheStoredBytesLeastSignificantFirst) {
  EXPECT_EQ(Decimal({}), "0");
  EXPECT_EQ(Decimal({0x00}), "0");
  EXPECT_EQ(Decimal({0x05}), "5");
  EXPECT_EQ(Decimal({0xFF}), "255");
  EXPECT_EQ(Decimal({0x00, 0x01}), "256");
  EXPECT_EQ(Decimal({0x0A, 0xFF, 0x3C, 0x01}), "20774666");
  EXPECT_EQ(Decimal({0xAB, 0x00, 0x8F, 0x00}), "9371819");  // a leading zero byte adds nothing
  // 2^64 and a 20-byte serial, beyond any machine integer.
  EXPECT_EQ(Decimal({0, 0, 0, 0, 0, 0, 0, 0, 1}), "18446744073709551616");
  EXPECT_EQ(Decimal(std::vector<BYTE>(20, 0xFF)), "1461501637330902918203684832716283019655932542975");
}

// Serials as CAs issue them, stored least significant byte first; the ones whose top bit is set
// carry the 00 that keeps the DER integer positive.
TEST(SerialNumberDecimal, EveryLengthACertificateAuthorityIssues) {
  EXPECT_EQ(Decimal({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), "9223372036854775807");  // 8 bytes
  EXPECT_EQ(Decimal({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00}), "9223372036854775808");
  EXPECT_EQ(Decimal({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "4722366482869645213695");  // 9 bytes
  std::vector<BYTE> sixteen(16, 0x00);
  sixteen[15] = 0x01;  // 2^120
  EXPECT_EQ(Decimal(sixteen), "1329227995784915872903807060280344576");
  std::vector<BYTE> twentyHigh(20, 0x00);
  twentyHigh[19] = 0x80;
  twentyHigh.push_back(0x00);  // 2^159, its leading 00 included
  EXPECT_EQ(Decimal(twentyHigh), "730750818665451459101842416358141509827966271488");
  EXPECT_EQ(Decimal(std::vector<BYTE>(21, 0xFF)), "374144419156711147060143317175368453031918731001855");
}

// The DER of the name "CN=A" and of "CN=B".
std::vector<BYTE> NameDer(char letter) {
  return {0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, static_cast<BYTE>(letter)};
}

class CompleteX509DataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc_ = xmlNewDoc(BAD_CAST "1.0");
    signature_ = xmlSecTmplSignatureCreate(doc_, xmlSecTransformInclC14NId, xmlSecTransformInclC14NId, nullptr);
    xmlDocSetRootElement(doc_, signature_);
    x509Data_ = xmlSecTmplKeyInfoAddX509Data(xmlSecTmplSignatureEnsureKeyInfo(signature_, nullptr));
    info_.SerialNumber = {static_cast<DWORD>(serial_.size()), serial_.data()};
    info_.Subject = {static_cast<DWORD>(subject_.size()), subject_.data()};
    info_.Issuer = {static_cast<DWORD>(issuer_.size()), issuer_.data()};
    certificate_.dwCertEncodingType = X509_ASN_ENCODING;
    certificate_.pbCertEncoded = encoded_.data();
    certificate_.cbCertEncoded = static_cast<DWORD>(encoded_.size());
    certificate_.pCertInfo = &info_;
  }
  void TearDown() override { xmlFreeDoc(doc_); }

  xmlDocPtr doc_ = nullptr;
  xmlNodePtr signature_ = nullptr;
  xmlNodePtr x509Data_ = nullptr;
  std::vector<BYTE> serial_{0x2C, 0x01};
  std::vector<BYTE> subject_ = NameDer('A');
  std::vector<BYTE> issuer_ = NameDer('B');
  std::vector<BYTE> encoded_{'q', 'b', 'x'};
  CERT_INFO info_{};
  CERT_CONTEXT certificate_{};
};

TEST_F(CompleteX509DataTest, FillsEveryEmptyChild) {
  xmlSecTmplX509DataAddCertificate(x509Data_);
  xmlSecTmplX509DataAddSubjectName(x509Data_);
  xmlSecTmplX509DataAddIssuerSerial(x509Data_);
  ASSERT_TRUE(CompleteX509Data(signature_, &certificate_));
  const auto children = test::ElementChildren(x509Data_);
  ASSERT_EQ(children.size(), 3u);
  EXPECT_EQ(test::Content(children[0]), "cWJ4\n");
  EXPECT_EQ(test::Content(children[1]), "CN=A");
  EXPECT_EQ(test::ElementNames(children[2]), (std::vector<std::string>{"X509IssuerName", "X509SerialNumber"}));
  for (xmlNodePtr part : test::ElementChildren(children[2])) EXPECT_EQ(test::Namespace(part), test::kDsigNs);
  EXPECT_EQ(test::Content(test::ElementChildren(children[2])[0]), "CN=B");
  EXPECT_EQ(test::Content(test::ElementChildren(children[2])[1]), "300");
}

TEST_F(CompleteX509DataTest, LeavesWhatTheLibraryFilled) {
  xmlNodePtr certificate = xmlSecTmplX509DataAddCertificate(x509Data_);
  xmlNodeSetContent(certificate, BAD_CAST "\nWRITTEN\n");
  xmlSecTmplX509DataAddSubjectName(x509Data_);
  ASSERT_TRUE(CompleteX509Data(signature_, &certificate_));
  EXPECT_EQ(test::Content(certificate), "\nWRITTEN\n");
  EXPECT_EQ(test::Content(test::ElementChildren(x509Data_)[1]), "CN=A");
  EXPECT_EQ(test::ElementChildren(x509Data_).size(), 2u);
}

TEST_F(CompleteX509DataTest, MissingX509DataOrCertificateIsAFailure) {
  EXPECT_FALSE(CompleteX509Data(signature_, nullptr));
  xmlNodePtr keyInfo = x509Data_->parent;
  xmlUnlinkNode(x509Data_);
  xmlFreeNode(x509Data_);
  ASSERT_NE(keyInfo, nullptr);
  EXPECT_FALSE(CompleteX509Data(signature_, &certificate_));
}

}  // namespace
}  // namespace quillbox
